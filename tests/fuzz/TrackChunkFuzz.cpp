// Fuzzes the track chunk reader. The input is a song's bytes: its track chunks
// are read one after another from offset 14 (from 0 in an input too short to
// hold a header), each at the end of the one before, until a chunk cannot be
// read or 200 tracks were read. Every track read is then turned into duration
// form and back, so the conversions see whatever the reader makes of the bytes.
//
// Running status is put back before each input, so that an input reproduces
// on its own. Messages go to a captured sink and are dropped.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"
#include "song/MidiTrackData.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using sonrigo::MidiTrackData;
    static const std::shared_ptr<sonrigo::CapturedMessageSink> sink = [] {
        auto captured = std::make_shared<sonrigo::CapturedMessageSink>();
        sonrigo::InstallMessageSink(captured);
        return captured;
    }();

    MidiTrackData::ResetRunningStatus();
    const std::span<const std::uint8_t> song(data, size);
    std::int64_t offset = size >= 14 ? 14 : 0;
    for (int i = 0; i < 200; ++i) {
        MidiTrackData track(song, offset);
        if (track.size() == 0)
            break;
        offset += track.size();
        track.toDurationForm();
        track.toOnOffForm();
    }
    sink->take();
    return 0;
}
