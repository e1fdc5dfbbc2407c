#include "vsthost/PluginProbe.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace sonrigo {
namespace {

using namespace std::chrono_literals;

// The command-line tool's trial, as the player's own program runs it.
PluginProbe MakeProbe(std::chrono::milliseconds limit = PluginProbe::kTimeLimit, std::function<bool()> keepWaiting = {})
{
    return PluginProbe({SONRIGO_CLI_DEVICES_PATH, "plugin-trial"}, std::move(keepWaiting), limit);
}

std::string Refusal(const PluginProbe::Verdict& verdict)
{
    return verdict.admitted || verdict.messages.empty() ? std::string() : verdict.messages.front();
}

// A crash while loading (in effOpen; one in the library's constructor fails at
// the same step) and an exit while loading: cli.plugin_load_failures_say_why.
TEST(PluginProbe, EachHostileLibraryIsRefusedSayingHowAndWellBehavedOnesPass)
{
    test::TempDir dir;
    // An ELF file cut off after its first segments: the loader maps pages
    // that the file does not hold.
    const std::string truncated = (dir.path() / "truncated.so").string();
    std::filesystem::copy_file(SONRIGO_PROBE_PATH, truncated);
    std::filesystem::resize_file(truncated, 8192);

    PluginProbe probe = MakeProbe(1500ms);
    struct Case {
        std::string path;
        const char* how;  // "" for a library that is to load
    };
    const Case cases[] = {
        {SONRIGO_PROBE_NAN_LATER_PATH, ""},  // its garbage comes after the trial
        {SONRIGO_PROBE_THROW_IN_OPEN_PATH, "crashed (SIGABRT) while it was being loaded"},
        {SONRIGO_PROBE_HANG_IN_OPEN_PATH, "did not answer for 2 s while it was being loaded (it was stopped)"},
        {SONRIGO_PROBE_CRASH_IN_PROCESS_PATH, "crashed (SIGSEGV) while it played a note"},
        {SONRIGO_PROBE_HANG_IN_PROCESS_PATH, "did not answer for 2 s while it played a note"},
        {SONRIGO_PROBE_NAN_PATH, "played samples that are not numbers or far beyond full scale"},
        {SONRIGO_PROBE_WRITE_PAST_PATH, "wrote past the end of the 882-frame buffers it was given"},
        {truncated, "crashed (SIGBUS) while it was being loaded"},
        {SONRIGO_PROBE_CRASH_IN_CLOSE_PATH, "crashed (SIGSEGV) while it was being closed"},
        {SONRIGO_PROBE_EXIT_IN_CLOSE_PATH, "ended that process with exit status 0 while it was being closed"},
    };
    for (const Case& c : cases) {
        const PluginProbe::Verdict verdict = probe.check(c.path);
        if (*c.how == '\0') {
            EXPECT_TRUE(verdict.admitted) << c.path << ": " << Refusal(verdict);
            continue;
        }
        EXPECT_FALSE(verdict.admitted) << c.path;
        const std::string text = Refusal(verdict);
        EXPECT_EQ(text.rfind("プラグインのロードに失敗しました。\n" + c.path + " was tried in a process of its own and ", 0), 0u) << text;
        EXPECT_NE(text.find(c.how), std::string::npos) << text;
    }
}

// The load's own refusal, relayed from the trial, is what
// cli.plugin_load_failures_say_why shows for a library with a missing symbol.
TEST(PluginProbe, VerdictsAreKeptByPathSizeAndTimeAndOnlyRegularFilesAreTried)
{
    test::TempDir dir;
    const std::string good = (dir.path() / "good.so").string();
    const std::string bad = (dir.path() / "bad.so").string();
    std::filesystem::copy_file(SONRIGO_PROBE_PATH, good);
    std::filesystem::copy_file(SONRIGO_PROBE_CRASH_IN_PROCESS_PATH, bad);
    PluginProbe probe = MakeProbe();

    EXPECT_TRUE(probe.check(good).admitted);  // tried once for many slots: the rack's test
    const PluginProbe::Verdict first = probe.check(bad);
    EXPECT_EQ(probe.check(bad).messages, first.messages);  // refused again, said again
    EXPECT_EQ(probe.trials(), 2);

    // The file changes (a new build of the plug-in): tried again.
    const timespec times[2] = {{0, UTIME_NOW}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, good.c_str(), times, 0), 0);
    EXPECT_TRUE(probe.check(good).admitted);
    EXPECT_EQ(probe.trials(), 3);

    // Not a regular file: the load says why without running any of it.
    EXPECT_TRUE(probe.check(dir.path().string()).admitted);
    EXPECT_TRUE(probe.check((dir.path() / "missing.so").string()).admitted);
    EXPECT_EQ(probe.trials(), 3);
}

TEST(PluginProbe, AGiveUpIsNotKeptAndWithoutTheTrialProgramLibrariesLoadUntriedWithOneWarning)
{
    int looks = 0;
    PluginProbe impatient = MakeProbe(PluginProbe::kTimeLimit, [&looks] { return ++looks < 3; });
    const PluginProbe::Verdict given = impatient.check(SONRIGO_PROBE_HANG_IN_OPEN_PATH);
    EXPECT_FALSE(given.admitted);
    EXPECT_TRUE(given.messages.empty());
    impatient.check(SONRIGO_PROBE_HANG_IN_OPEN_PATH);
    EXPECT_EQ(impatient.trials(), 2);

    PluginProbe missing({"/nonexistent/sonrigo-trial"});
    const PluginProbe::Verdict untried = missing.check(SONRIGO_PROBE_PATH);
    EXPECT_TRUE(untried.admitted);
    ASSERT_EQ(untried.messages.size(), 1u);
    EXPECT_NE(untried.messages[0].find("/nonexistent/sonrigo-trial: No such file or directory"), std::string::npos);
    EXPECT_TRUE(missing.check(SONRIGO_PROBE_NO_EDITOR_PATH).messages.empty());
}

}  // namespace
}  // namespace sonrigo
