#include "vsthost/VstPlugin.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "vsthost/ProbeLog.h"

namespace sonrigo {
namespace {

using test::ProbeLog;
using Strings = std::vector<std::string>;

constexpr float kRate = 44100.0f;
constexpr std::int32_t kBlock = 882;
constexpr std::int32_t kMaxEvents = 16;

// Whether the library at path is loaded in this process now.
bool IsLoaded(const char* path)
{
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        ::dlclose(handle);
    return handle != nullptr;
}

vst::VstMidiEvent MidiEvent(int status, int data1, int data2, int deltaFrames)
{
    return vst::MakeMidiEvent(static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(data1),
                              static_cast<std::uint8_t>(data2), deltaFrames);
}

// A probe loaded into a plug-in of the host's sizes, its calls logged.
class VstPluginTest : public ::testing::Test {
protected:
    void load(const char* path) { ASSERT_TRUE(plugin.load(path)); }

    ProbeLog log;  // before the plug-in: the probe reads its variable when it loads
    VstPlugin plugin{kRate, kBlock, kMaxEvents};
};

// The entry point taken is checked through vst-info (cli.vst_info_probe, CliVstTest).
TEST_F(VstPluginTest, OpensThroughVSTPluginMainSetsRateAndBlockSizeAndAnswersTheHost)
{
    load(SONRIGO_PROBE_PATH);
    // Not resumed: that is the caller's business.
    EXPECT_EQ(log.dispatches(), (Strings{"0 0 0 null 0", "10 0 0 null 44100", "11 0 882 null 0"}));
    // What the probe asked while it opened: capabilities match exactly.
    EXPECT_EQ(log.linesStartingWith("host "), (Strings{"host canDo 'sendVstEvents' 1", "host canDo 'supplyIdle' 1",
                                                       "host canDo 'SupplyIdle' 0", "host canDo 'supplyIdle ' 0",
                                                       "host canDo null 0"}));
}

// Our own reference to the library, taken first, must outlive the plug-in's:
// a plug-in that freed the library twice would take it away too.
TEST(VstPluginLoad, EachFailureShowsItsMessageNeverCallsTheDispatcherAndFreesTheLibraryOnce)
{
    for (const auto& [path, message] : {std::pair{SONRIGO_PROBE_NO_ENTRY_PATH, "プラグインのエントリ取得に失敗しました。"},
                                        std::pair{SONRIGO_PROBE_NULL_INSTANCE_PATH, "インスタンスの生成に失敗しました。"},
                                        std::pair{SONRIGO_PROBE_WRONG_MAGIC_PATH, "VSTプラグインではありません。"}}) {
        SCOPED_TRACE(path);
        ProbeLog log;
        ScopedMessageCapture messages;
        void* ours = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(ours, nullptr);
        {
            VstPlugin plugin(kRate, kBlock, kMaxEvents);
            EXPECT_FALSE(plugin.load(path));
            EXPECT_EQ(messages.take(), Strings{message});
        }
        EXPECT_EQ(log.dispatches(), Strings{});
        EXPECT_TRUE(IsLoaded(path));
        ::dlclose(ours);
        EXPECT_FALSE(IsLoaded(path));
    }
}

TEST_F(VstPluginTest, ProgramsTextsAndParametersReachThePluginOnlyWhileItIsLoaded)
{
    void* ours = ::dlopen(SONRIGO_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);  // as in the failures' test
    load(SONRIGO_PROBE_PATH);
    plugin.resume();
    plugin.setProgram(2);
    EXPECT_EQ(plugin.getProgram(), 2);
    // Texts come from zeroed buffers cut to their limits.
    EXPECT_EQ(plugin.getProgramName(), "Current program 2 of the");
    EXPECT_EQ(plugin.getProgramNameIndexed(7), "");  // the plug-in writes nothing
    EXPECT_EQ(plugin.getEffectName(), "Sonrigo Probe Instrument With A ");
    // Parameters outside the plug-in's count never reach it.
    for (const int index : {3, 4, -1})
        plugin.setParameter(index, 0.75f);
    plugin.suspend();
    plugin.close();
    EXPECT_EQ(plugin.outputs(), nullptr);
    plugin.close();  // as the destructor does once the rack has closed it: nothing more reaches the plug-in
    const Strings calls = log.dispatches();
    EXPECT_EQ(Strings(calls.begin() + 3, calls.end()),
              (Strings{"12 0 1 null 0", "2 0 2 null 0", "3 0 0 null 0", "5 0 0 ptr 0", "29 7 0 ptr 0", "45 0 0 ptr 0",
                       "12 0 0 null 0", "1 0 0 null 0"}));
    EXPECT_EQ(log.linesStartingWith("setParameter"), Strings{"setParameter 3 0.75"});
    EXPECT_TRUE(IsLoaded(SONRIGO_PROBE_PATH));
    ::dlclose(ours);
    EXPECT_FALSE(IsLoaded(SONRIGO_PROBE_PATH));
}

TEST_F(VstPluginTest, ABlocksEventsArriveInOrderAndPastItsRoomOnlyNoteOnsAreLost)
{
    load(SONRIGO_PROBE_PATH);
    for (int i = 0; i < 17; ++i)
        plugin.addEvent(MidiEvent(0x90, 40 + i, 100, i * 10));
    plugin.addEvent(MidiEvent(0x80, 40, 0, 200));    // no room: kept for the next block
    plugin.addEvent(MidiEvent(0xB0, 64, 127, 210));  // a controller's last value is kept
    plugin.addEvent(MidiEvent(0xB0, 64, 0, 220));
    plugin.handOverEvents(100);  // offsets past the block are kept inside it
    plugin.flushEvents();
    Strings events = log.linesStartingWith("event");
    ASSERT_EQ(events.size(), 16u);
    EXPECT_EQ(events[0], "event 1 0 90 28 64");
    EXPECT_EQ(events[15], "event 1 99 90 37 64");

    plugin.addEvent(MidiEvent(0x90, 70, 1, 0));
    plugin.handOverEvents(kBlock);
    plugin.flushEvents();
    events = log.linesStartingWith("event");
    // What was kept starts the next block; the seventeenth note-on is lost.
    EXPECT_EQ(Strings(events.begin() + 16, events.end()),
              (Strings{"event 1 0 80 28 00", "event 1 0 b0 40 00", "event 1 0 90 46 01"}));
    plugin.handOverEvents(kBlock);
    plugin.flushEvents();  // nothing queued: no call
    EXPECT_EQ(log.linesStartingWith("dispatch 25"), Strings(2, "dispatch 25 0 0 ptr 0"));
}

// What a plug-in that can replace gives is checked through the rack's mix.
TEST_F(VstPluginTest, ProcessHandsOverTheBuffersOnlyWhenThePluginCanReplace)
{
    load(SONRIGO_PROBE_NO_REPLACING_PATH);
    plugin.process(kBlock);
    EXPECT_EQ(log.linesStartingWith("process"), Strings{});
    EXPECT_EQ(plugin.outputs()[0][0], 0.0f);
}

}  // namespace
}  // namespace sonrigo
