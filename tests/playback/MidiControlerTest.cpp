#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "platform/Beep.h"
#include "platform/RecordingMidiOutput.h"
#include "playback/MidiControler.h"

namespace sonrigo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = RecordingMidiOutput::Kind;

std::atomic<int> gBeeps{0};

void CountBeep(unsigned frequencyHz, unsigned durationMs)
{
    if (frequencyHz == 1000 && durationMs == 1000)
        ++gBeeps;
}

class MidiControlerTest : public testing::Test {
protected:
    void SetUp() override { useSystem(1); }

    void TearDown() override
    {
        InstallMidiOutputSystem(nullptr);
        InstallBeep(nullptr);
        MidiControler::RearmMissingDeviceReport();
    }

    void useSystem(int ports)
    {
        RecordingMidiOutputOptions options;
        options.portCount = ports;
        system_ = std::make_shared<RecordingMidiOutput>(options);
        InstallMidiOutputSystem(system_);
        InstallBeep(&CountBeep);
        gBeeps = 0;
    }

    // The SysEx's bytes as sent, or nothing; with the beeps it cost. The
    // record's length is the input's unless given.
    std::vector<Bytes> sysEx(const Bytes& input, int& beeps, std::int32_t length = -1)
    {
        MidiControler device(-1);
        system_->clear();
        gBeeps = 0;
        device.SendSysEx(length < 0 ? static_cast<std::int32_t>(input.size()) : length, input.data());
        beeps = gBeeps.load();
        return system_->messages();
    }

    ScopedMessageCapture messages_;
    std::shared_ptr<RecordingMidiOutput> system_;
};

// The file form (F0, a variable-length count, the body) loses its count; other
// input goes out unchanged; a malformed count sends nothing and beeps.
TEST_F(MidiControlerTest, SysExIsSentWithoutItsLengthFieldOrNotAtAll)
{
    Bytes body(400);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i % 128);
    body.back() = 0xF7;
    const struct { Bytes input; std::vector<Bytes> sent; std::int32_t length = -1; } cases[] = {
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0xF7}, {{0x41, 0x10, 0x42, 0x12, 0x40, 0xF7}}},
        {body, {body}},  // without F0 over 256 bytes: not cut
        {{0xF0, 0x80, 0x80, 0x80, 0x02, 0x01, 0xF7}, {{0xF0, 0x01, 0xF7}}},  // the longest field: 4 bytes
        {{0xF0}, {}},                                // no length field
        {{0xF0, 0x05}, {}},                          // nothing after the field
        {{0xF0, 0x81, 0x82}, {}},                    // field runs to the end
        {{0xF0, 0x81, 0x80, 0x80, 0x80, 0x01}, {}},  // field longer than 4 bytes
        {body, {}, 0},                               // an empty record's payload
    };
    int beeps = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(sysEx(c.input, beeps, c.length), c.sent) << c.input.size();
        EXPECT_EQ(beeps, c.sent.empty() ? 1 : 0) << c.input.size();
    }
    EXPECT_TRUE(messages_.take().empty());
}

TEST_F(MidiControlerTest, FailedSendsOnlyProgramChangeShowsAMessage)
{
    MidiControler device(-1);
    system_->failSends(true);
    EXPECT_FALSE(device.SendNoteOn(60, 100, 0));
    EXPECT_FALSE(device.SendNoteOff(60, 0));
    EXPECT_FALSE(device.SendShortMessage(0x40, 0x07, 0xB0));
    EXPECT_TRUE(messages_.take().empty());
    EXPECT_FALSE(device.SendProgramChange(5, 0));
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Can not change tone with Midi device!"});
    EXPECT_FALSE(device.SendGmSystemOn());
    EXPECT_EQ(gBeeps.load(), 1);
    EXPECT_TRUE(messages_.take().empty());
}

TEST_F(MidiControlerTest, AMissingPortIsReportedOncePerProcessAFailedOpenEveryTime)
{
    useSystem(0);
    MidiControler first(-1);
    EXPECT_FALSE(first.isOpen());
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Can not open Midi device!"});
    MidiControler second(-1);
    EXPECT_TRUE(messages_.take().empty());
    EXPECT_TRUE(system_->openRequests().empty()) << "nothing to open";

    MidiControler::RearmMissingDeviceReport();
    MidiControler third(-1);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Can not open Midi device!"});

    // A port that fails to open is reported every time.
    useSystem(1);
    system_->failOpen(true);
    MidiControler fourth(-1);
    MidiControler fifth(0);
    EXPECT_FALSE(fourth.isOpen() || fifth.isOpen());
    EXPECT_EQ(messages_.take(), (std::vector<std::string>{"Can not open Midi device!", "Can not open Midi device!"}));
    EXPECT_EQ(system_->openRequests(), (std::vector<int>{-1, 0}));
}

TEST_F(MidiControlerTest, CloseResetsThenClosesAndReportsEachFailure)
{
    struct Case {
        bool failReset;
        bool failClose;
        std::size_t messages;
    };
    for (const Case c : {Case{false, false, 0}, Case{true, false, 1}, Case{false, true, 1}, Case{true, true, 2}}) {
        useSystem(1);
        MidiControler device(-1);
        system_->failReset(c.failReset);
        system_->failClose(c.failClose);
        device.Close();
        const auto records = system_->records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].kind, Kind::Reset);
        EXPECT_EQ(records[1].kind, Kind::Close) << "close is tried even when reset failed";
        EXPECT_EQ(messages_.take(), std::vector<std::string>(c.messages, "Can not close Midi device!"));
        EXPECT_FALSE(device.isOpen());
        EXPECT_FALSE(device.SendNoteOn(60, 100, 0));  // a timer callback that found the device before it went
    }
}

}  // namespace
}  // namespace sonrigo
