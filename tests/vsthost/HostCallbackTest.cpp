#include "vsthost/HostCallback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "vsthost/ProbeLog.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

using namespace vst;

VstIntPtr Ask(VstInt32 opcode, void* ptr = nullptr)
{
    return hostCallback(nullptr, opcode, 0, 0, ptr, 0.0f);
}

VstIntPtr CanDo(std::string capability)
{
    return Ask(audioMasterCanDo, capability.data());
}

TEST(HostCallback, SpeaksVst24AndJapaneseAndCanDoExactlyThreeThings)
{
    EXPECT_EQ(Ask(audioMasterVersion), 2400);
    EXPECT_EQ(Ask(audioMasterGetLanguage), kVstLangJapanese);
    EXPECT_EQ(CanDo("sendVstEvents"), 1);
    EXPECT_EQ(CanDo("sendVstMidiEvent"), 1);
    EXPECT_EQ(CanDo("supplyIdle"), 1);
    for (const char* other : {"SupplyIdle", "supplyidle", "supplyIdle ", "sendVstEvent", "", "sendVstTimeInfo",
                              "receiveVstEvents", "receiveVstMidiEvent", "sizeWindow", "offline"})
        EXPECT_EQ(CanDo(other), 0) << other;
    EXPECT_EQ(Ask(audioMasterCanDo, nullptr), 0);
}

TEST(HostCallback, AnswersEveryOtherQuestionWithZero)
{
    for (VstInt32 opcode : std::initializer_list<VstInt32>{audioMasterAutomate, audioMasterCurrentId, audioMasterGetTime, audioMasterProcessEvents,
                            audioMasterSizeWindow, audioMasterGetSampleRate, audioMasterGetBlockSize,
                            audioMasterGetVendorString, audioMasterUpdateDisplay, -1, 39, 1000})
        EXPECT_EQ(hostCallback(nullptr, opcode, 640, 480, nullptr, 1.0f), 0) << opcode;
}

TEST(HostCallback, IdleSleepsAMillisecond)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Ask(audioMasterIdle), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1));
}

TEST(HostCallback, IsWhatALoadedPluginTalksTo)
{
    test::ProbeLog log;
    VstPlugin plugin(44100.0f, 882, 16);
    ASSERT_TRUE(plugin.load(SONRIGO_PROBE_PATH));
    // The probe asks its questions when opened; the answers are the ones above.
    const std::vector<std::string> asked = log.linesStartingWith("host");
    ASSERT_EQ(asked.size(), 19u);
    for (const char* line : {"host version 2400", "host canDo 'supplyIdle' 1", "host canDo 'supplyIdle ' 0",
                             "host canDo null 0", "host language 6", "host idle 0", "host opcode39 0"})
        EXPECT_NE(std::find(asked.begin(), asked.end(), line), asked.end()) << line;
}

}  // namespace
}  // namespace sonrigo
