#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "CliVstInfo.h"
#include "CliVstRender.h"
#include "common/ScopedMessageCapture.h"
#include "vsthost/ProbeLog.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;

// The rest of what vst-info prints is checked by the cli.vst_info tests.
TEST(CliVstInfo, NamesTheOlderEntryPointAndLooksWithoutPlaying)
{
    test::ProbeLog log;
    std::ostringstream out;
    EXPECT_EQ(RunVstInfo(SONRIGO_PROBE_MAIN_ONLY_PATH, out), 0);
    EXPECT_NE(out.str().find("entry point: main\n"), std::string::npos) << out.str();
    // Never resumed, and closed at the end.
    EXPECT_EQ(log.linesStartingWith("dispatch 12"), Strings{});
    EXPECT_EQ(log.dispatches().back(), "1 0 0 null 0");
}

// The melody, played on a plug-in with three outputs, as a mono WAV file; or
// no file at all when the plug-in does not load or the output cannot be made.
TEST(CliVstRender, WritesTheAveragedOutputsAsMonoWavOrNoFileAtAll)
{
    test::ProbeLog log;
    ScopedMessageCapture messages;
    const std::filesystem::path dir = log.dir().path();
    std::ostringstream err;
    ASSERT_EQ(RunVstRender({SONRIGO_PROBE_NO_INPUTS_PATH, (dir / "out.wav").string()}, err), 0) << err.str();
    SF_INFO info{};
    SNDFILE* file = sf_open((dir / "out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<short> samples(static_cast<std::size_t>(info.frames));
    samples.resize(static_cast<std::size_t>(sf_read_short(file, samples.data(), info.frames)));
    sf_close(file);
    EXPECT_EQ(std::tuple(info.channels, info.samplerate, info.format),
              std::tuple(1, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    ASSERT_GT(samples.size(), 44100u);
    // Outputs 0.1, 0.2 and 0.3 average to 0.2.
    EXPECT_NEAR(samples.front(), 6553, 1);
    EXPECT_NEAR(samples.back(), 6553, 1);
    const Strings events = log.linesStartingWith("event");
    ASSERT_GE(events.size(), 8u);
    EXPECT_EQ(events.front(), "event 1 0 90 3c 64");
    for (const std::string& event : events) {
        const int delta = std::stoi(event.substr(8));
        EXPECT_TRUE(delta >= 0 && delta < 882) << event;
    }
    EXPECT_EQ(log.linesStartingWith("dispatch 12"), (Strings{"dispatch 12 0 1 null 0", "dispatch 12 0 0 null 0"}));

    EXPECT_EQ(RunVstRender({SONRIGO_PROBE_NULL_INSTANCE_PATH, (dir / "failed.wav").string()}, err), 1);
    EXPECT_NE(err.str().find("cannot load"), std::string::npos) << err.str();
    const std::string nowhere = (dir / "missing-folder" / "out.wav").string();
    EXPECT_EQ(RunVstRender({SONRIGO_PROBE_PATH, nowhere}, err), 1);
    EXPECT_NE(err.str().find("cannot write " + nowhere), std::string::npos) << err.str();
    Strings files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (Strings{"out.wav", "probe.log"}));
}

TEST(CliVstRender, TakesOnePluginAndOneOutput)
{
    VstRenderOptions options;
    EXPECT_TRUE(ParseVstRenderArgs({"-o", "o.wav", "p.so"}, options));
    EXPECT_EQ(options.plugin, "p.so");
    EXPECT_EQ(options.output, "o.wav");
    for (const Strings& bad : {Strings{"p.so"}, Strings{"p.so", "-o"}, Strings{"p.so", "q.so", "-o", "o.wav"},
                               Strings{"p.so", "-o", "a.wav", "-o", "b.wav"}, Strings{"-x", "p.so", "-o", "o.wav"}})
        EXPECT_FALSE(ParseVstRenderArgs(bad, options));
}

}  // namespace
}  // namespace sonrigo
