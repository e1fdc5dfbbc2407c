#include "vsthost/ChannelRouter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "song/MidiEvent.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/HostFixtures.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;

MidiEvent Record(std::int32_t kind, std::int32_t channel, std::int32_t data1, std::int32_t velocity = 100)
{
    MidiEvent record;
    record.kind = kind;
    record.channel = channel;
    record.data1 = data1;
    record.velocity = velocity;
    record.subtype = data1;  // a controller's number
    record.value = velocity;
    return record;
}

TEST(ChannelRouter, LetsGoOfItsInstrumentsNotesWhenAChannelLeavesOrPlaybackEnds)
{
    test::ProbeLog log;
    test::RackOnManualDevice r;
    VstRack& rack = r.rack;
    rack.loadPlugin(0, SONRIGO_PROBE_PATH);
    rack.loadPlugin(1, SONRIGO_PROBE_PATH);
    r.openRing();
    ChannelRouter router(rack);
    router.setRouted(0, true);
    router.setRouted(1, true);
    for (MidiEvent record : {Record(EventKind::NoteOn, 0, 60), Record(EventKind::NoteOn, 0, 64),
                             Record(EventKind::NoteOn, 0, 64, 0), Record(EventKind::ControlChange, 0, 64, 127),
                             Record(EventKind::NoteOn, 1, 50), Record(EventKind::NoteOn, 1, 127),
                             Record(EventKind::NoteOff, 1, 127)}) {
        const std::int32_t kind = record.kind;
        router.onEvent(0, 0, &record);
        // A controller also goes on to the MIDI output.
        EXPECT_EQ(record.kind, kind == EventKind::ControlChange ? kind : EventKind::Removed);
    }
    rack.renderPass();
    const std::size_t played = log.linesStartingWith("event ").size();

    router.setRouted(0, false);  // the pedal is down: it goes up too
    router.releaseNotes();
    router.releaseNotes();  // nothing new sounded since: nothing more
    r.advance(441);
    rack.renderPass();
    const Strings events = log.linesStartingWith("event ");
    EXPECT_EQ(Strings(events.begin() + static_cast<std::ptrdiff_t>(played), events.end()),
              (Strings{"event 1 0 80 3c 00", "event 1 0 b0 40 00", "event 1 0 b0 7b 00", "event 1 0 81 32 00",
                       "event 1 0 b1 40 00", "event 1 0 b1 7b 00"}));
    rack.stop();
    rack.removeAllPlugins();
}

}  // namespace
}  // namespace sonrigo
