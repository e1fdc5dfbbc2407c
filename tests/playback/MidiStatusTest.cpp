#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "PlaybackFixture.h"
#include "playback/MidiStatus.h"
#include "song/MidiEvent.h"

namespace sonrigo::test {
namespace {

TEST(MidiStatusTest, KeepsTheLastValuesBeforeTheStartInChannelOrder)
{
    auto song = MakeSong({Program(0, 5, 0), Program(0, 7, 0), Control(0, 7, 100, 1), Tempo(0, 400000),
                          Control(0, 10, 20, 0), NoteOn(10, 60), Program(0, 9, 0)});
    MidiStatus status;
    const MidiStatus::Position position = status.collect(*song, 5);
    EXPECT_EQ(position.index, 5);
    EXPECT_EQ(position.skippedTicks, 0);
    // Kind, channel, subtype and value of each record made.
    std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t>> made;
    for (const MidiEvent& e : status.makeEvents())
        made.emplace_back(e.kind, e.channel, e.subtype, e.value);
    EXPECT_EQ(made, (decltype(made){{EventKind::ProgramChange, 0, 0, 7},
                                    {EventKind::ControlChange, 0, 10, 20},
                                    {EventKind::ControlChange, 1, 7, 100},
                                    {EventKind::Meta, kNoChannel, 0x51, 400000}}));
}

TEST(MidiStatusTest, AZeroTimeSignatureIsReportedAndStillPacked)
{
    ScopedMessageCapture messages;
    SongEvent signature{.delta = 0, .kind = EventKind::Meta, .channel = kNoChannel, .subtype = 0x58, .value = 0};
    auto song = MakeSong({signature, NoteOn(10, 60)});
    MidiStatus status;
    status.collect(*song, 5);
    const std::vector<MidiEvent> events = status.makeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].length, 4);
    EXPECT_EQ(messages.take(), std::vector<std::string>{"error in MidiStatus!"});
}

}  // namespace
}  // namespace sonrigo::test
