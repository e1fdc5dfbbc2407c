#include "GeneratedSongs.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace sonrigo::bench {

namespace {

constexpr std::int32_t kDivision = 480;
constexpr std::size_t kHeaderChunkBytes = 14;
constexpr std::size_t kTrackChunkHeaderBytes = 8;
constexpr std::size_t kNameMetaOverhead = 4;  // delta, FF, 03, length
constexpr std::size_t kEndOfTrackBytes = 4;   // delta, FF, 2F, 00
constexpr std::size_t kLongestName = 127;     // one-byte length

[[noreturn]] void GeneratorFailure(const char* what)
{
    std::fprintf(stderr, "song generator: %s\n", what);
    std::abort();
}

// xorshift32: the same sequence on every machine.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed != 0 ? seed : 0x9E3779B9u) {}

    std::uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform enough in lo..hi, both included.
    int between(int lo, int hi)
    {
        return lo + static_cast<int>(next() % static_cast<std::uint32_t>(hi - lo + 1));
    }

private:
    std::uint32_t state_;
};

// The events of one track body. A status byte is written only when it differs
// from the running one; a meta event cancels running status, so the next
// channel event writes its status again (readers that keep the status across
// metas read the same bytes either way).
class TrackWriter {
public:
    struct Mark {
        std::size_t size;
        int running;
        std::int64_t events;
        std::int64_t noteEvents;
        std::int64_t notes;
        std::int64_t metas;
    };

    Mark mark() const { return {bytes_.size(), running_, events_, noteEvents_, notes_, metas_}; }
    void rollback(const Mark& m)
    {
        bytes_.resize(m.size);
        running_ = m.running;
        events_ = m.events;
        noteEvents_ = m.noteEvents;
        notes_ = m.notes;
        metas_ = m.metas;
    }

    void noteOn(int delta, int channel, int note, int velocity)
    {
        channelEvent(delta, 0x90 | channel, note, velocity);
        ++noteEvents_;
        ++notes_;
    }
    // Written as a note-on of velocity 0.
    void noteOff(int delta, int channel, int note)
    {
        channelEvent(delta, 0x90 | channel, note, 0);
        ++noteEvents_;
    }
    void controlChange(int delta, int channel, int controller, int value)
    {
        channelEvent(delta, 0xB0 | channel, controller, value);
    }
    void programChange(int delta, int channel, int program) { channelEvent(delta, 0xC0 | channel, program, -1); }
    void channelPressure(int delta, int channel, int pressure) { channelEvent(delta, 0xD0 | channel, pressure, -1); }

    void meta(int delta, int type, std::span<const std::uint8_t> data)
    {
        if (data.size() > kLongestName)
            GeneratorFailure("meta event too long for a one-byte length");
        writeDelta(delta);
        bytes_.push_back(0xFF);
        bytes_.push_back(static_cast<std::uint8_t>(type));
        bytes_.push_back(static_cast<std::uint8_t>(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        running_ = -1;
        ++events_;
        ++metas_;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    std::int64_t events() const { return events_; }
    std::int64_t noteEvents() const { return noteEvents_; }
    std::int64_t notes() const { return notes_; }
    std::int64_t metas() const { return metas_; }

private:
    void writeDelta(int delta)
    {
        if (delta < 0 || delta > 0x0FFFFFFF)
            GeneratorFailure("delta out of range");
        std::uint8_t groups[4];
        int n = 0;
        auto value = static_cast<std::uint32_t>(delta);
        do {
            groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (n > 1)
            bytes_.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
        bytes_.push_back(groups[0]);
    }

    void channelEvent(int delta, int status, int data1, int data2)
    {
        if (data1 < 0 || data1 > 0x7F || data2 > 0x7F)
            GeneratorFailure("data byte out of range");
        writeDelta(delta);
        if (status != running_) {
            bytes_.push_back(static_cast<std::uint8_t>(status));
            running_ = status;
        }
        bytes_.push_back(static_cast<std::uint8_t>(data1));
        if (data2 >= 0)
            bytes_.push_back(static_cast<std::uint8_t>(data2));
        ++events_;
    }

    std::vector<std::uint8_t> bytes_;
    int running_ = -1;
    std::int64_t events_ = 0;
    std::int64_t noteEvents_ = 0;
    std::int64_t notes_ = 0;
    std::int64_t metas_ = 0;
};

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

GeneratedSong StartSong(std::int32_t format, std::int32_t tracks)
{
    GeneratedSong song;
    song.format = format;
    song.division = kDivision;
    song.bytes.reserve(static_cast<std::size_t>(kGeneratedSongBytes));
    const char magic[] = {'M', 'T', 'h', 'd'};
    song.bytes.insert(song.bytes.end(), std::begin(magic), std::end(magic));
    PutBigEndian(song.bytes, 6, 4);
    PutBigEndian(song.bytes, static_cast<std::uint32_t>(format), 2);
    PutBigEndian(song.bytes, static_cast<std::uint32_t>(tracks), 2);
    PutBigEndian(song.bytes, static_cast<std::uint32_t>(kDivision), 2);
    return song;
}

// Appends one track chunk of exactly chunkBytes bytes: the track name, the
// lead-in events, as many patterns as fit, End of Track. The name is padded
// with spaces to take up what is left when no further pattern fits, so each
// pattern must stay well under 100 bytes.
void AppendTrackChunk(GeneratedSong& song, std::size_t chunkBytes, std::string_view name,
                      const std::function<void(TrackWriter&)>& leadIn,
                      const std::function<void(TrackWriter&)>& pattern)
{
    constexpr std::size_t kFixed = kTrackChunkHeaderBytes + kNameMetaOverhead + kEndOfTrackBytes;
    TrackWriter body;
    leadIn(body);
    for (;;) {
        const TrackWriter::Mark before = body.mark();
        pattern(body);
        if (kFixed + name.size() + body.size() > chunkBytes) {
            body.rollback(before);
            break;
        }
    }
    const std::size_t nameLength = chunkBytes - kFixed - body.size();
    if (nameLength < name.size() || nameLength > kLongestName)
        GeneratorFailure("track name cannot take up the bytes left");
    std::string paddedName(name);
    paddedName.resize(nameLength, ' ');

    song.trackOffsets.push_back(static_cast<std::int64_t>(song.bytes.size()));
    const char magic[] = {'M', 'T', 'r', 'k'};
    song.bytes.insert(song.bytes.end(), std::begin(magic), std::end(magic));
    PutBigEndian(song.bytes, static_cast<std::uint32_t>(chunkBytes - kTrackChunkHeaderBytes), 4);
    const std::uint8_t nameMeta[] = {0x00, 0xFF, 0x03, static_cast<std::uint8_t>(nameLength)};
    song.bytes.insert(song.bytes.end(), std::begin(nameMeta), std::end(nameMeta));
    song.bytes.insert(song.bytes.end(), paddedName.begin(), paddedName.end());
    song.bytes.insert(song.bytes.end(), body.bytes().begin(), body.bytes().end());
    const std::uint8_t endOfTrack[] = {0x00, 0xFF, 0x2F, 0x00};
    song.bytes.insert(song.bytes.end(), std::begin(endOfTrack), std::end(endOfTrack));

    song.events += body.events() + 2;
    song.metas += body.metas() + 2;
    song.noteEvents += body.noteEvents();
    song.notes += body.notes();
}

void WriteTempoAndMeter(TrackWriter& w)
{
    const std::uint8_t tempo[] = {0x07, 0xA1, 0x20};             // 500,000 us a quarter
    const std::uint8_t timeSignature[] = {0x04, 0x02, 0x18, 0x08};  // 4/4
    w.meta(0, 0x51, tempo);
    w.meta(0, 0x58, timeSignature);
}

void FinishSong(const GeneratedSong& song)
{
    if (song.bytes.size() != static_cast<std::size_t>(kGeneratedSongBytes))
        GeneratorFailure("song does not come out at the intended size");
}

}  // namespace

GeneratedSong MakeManyTrackSong()
{
    constexpr std::int32_t kTracks = 63;
    GeneratedSong song = StartSong(1, kTracks);
    const std::size_t available = static_cast<std::size_t>(kGeneratedSongBytes) - kHeaderChunkBytes;
    const std::size_t share = available / kTracks;
    const std::size_t extra = available % kTracks;  // the first tracks get one byte more

    for (int t = 0; t < kTracks; ++t) {
        const int mainChannel = t % 16;
        const int secondChannel = (t + 5) % 16;
        Random random(0x5EED0000u + static_cast<std::uint32_t>(t));

        auto leadIn = [&](TrackWriter& w) {
            if (t == 0)
                WriteTempoAndMeter(w);
            w.programChange(0, mainChannel, (t * 5) % 128);
            w.controlChange(0, mainChannel, 7, 100);
            w.controlChange(0, mainChannel, 10, 64);
            w.programChange(0, secondChannel, (t * 3 + 1) % 128);
            w.controlChange(0, secondChannel, 7, 90);
        };
        // Every random draw is its own statement: the order in which a call's
        // arguments are evaluated is up to the compiler.
        auto draw = [&](int lo, int hi) { return random.between(lo, hi); };

        auto pattern = [&](TrackWriter& w) {
            const int kind = draw(0, 99);
            const int start = draw(0, 120);
            const int a = draw(36, 96);
            const int va = draw(40, 110);
            if (kind < 40) {
                // A three-note chord, released one note after the other.
                const int b = a + draw(3, 5);
                const int c = b + draw(3, 4);
                const int vb = draw(40, 110);
                const int vc = draw(40, 110);
                const int held = draw(30, 120);
                const int gapB = draw(0, 20);
                const int gapC = draw(0, 20);
                w.noteOn(start, mainChannel, a, va);
                w.noteOn(0, mainChannel, b, vb);
                w.noteOn(0, mainChannel, c, vc);
                w.noteOff(held, mainChannel, a);
                w.noteOff(gapB, mainChannel, b);
                w.noteOff(gapC, mainChannel, c);
            } else if (kind < 70) {
                // Legato: the next note starts before the last one ends.
                const int b = draw(36, 96);
                const int vb = draw(40, 110);
                const int toB = draw(30, 90);
                const int overlap = draw(5, 20);
                const int rest = draw(30, 90);
                w.noteOn(start, mainChannel, a, va);
                w.noteOn(toB, mainChannel, b, vb);
                w.noteOff(overlap, mainChannel, a);
                w.noteOff(rest, mainChannel, b);
            } else if (kind < 80) {
                // One pitch struck again before it is released.
                const int vb = draw(40, 110);
                const int again = draw(10, 40);
                const int firstOff = draw(10, 40);
                const int secondOff = draw(10, 40);
                w.noteOn(start, mainChannel, a, va);
                w.noteOn(again, mainChannel, a, vb);
                w.noteOff(firstOff, mainChannel, a);
                w.noteOff(secondOff, mainChannel, a);
            } else if (kind < 90) {
                // A note on the second channel inside one on the first.
                const int b = draw(36, 96);
                const int vb = draw(40, 110);
                const int toB = draw(0, 30);
                const int offA = draw(20, 60);
                const int offB = draw(0, 30);
                w.noteOn(start, mainChannel, a, va);
                w.noteOn(toB, secondChannel, b, vb);
                w.noteOff(offA, mainChannel, a);
                w.noteOff(offB, secondChannel, b);
            } else {
                // A controller move, then a single note.
                const int controller = draw(0, 1) == 0 ? 1 : 11;
                const int value = draw(0, 127);
                const int toNote = draw(0, 30);
                const int held = draw(30, 120);
                w.controlChange(start, mainChannel, controller, value);
                w.noteOn(toNote, mainChannel, a, va);
                w.noteOff(held, mainChannel, a);
            }
        };

        char name[32];
        std::snprintf(name, sizeof name, "Generated track %02d", t + 1);
        const std::size_t chunkBytes = share + (static_cast<std::size_t>(t) < extra ? 1 : 0);
        AppendTrackChunk(song, chunkBytes, name, leadIn, pattern);
    }
    FinishSong(song);
    return song;
}

GeneratedSong MakeSingleTrackSong()
{
    GeneratedSong song = StartSong(0, 1);
    const std::size_t chunkBytes = static_cast<std::size_t>(kGeneratedSongBytes) - kHeaderChunkBytes;
    Random random(0xB0B0CAFEu);
    constexpr int kChannel = 0;
    // Every 244th pattern is a group of notes: that keeps the event count near
    // 490,000, below the 491,520 records of the original event list.
    constexpr int kPatternsPerNoteGroup = 244;
    int patternIndex = 0;

    auto leadIn = [&](TrackWriter& w) {
        WriteTempoAndMeter(w);
        w.programChange(0, kChannel, 0);
    };
    auto pattern = [&](TrackWriter& w) {
        if (++patternIndex % kPatternsPerNoteGroup == 0) {
            // Two overlapping notes: status once, then running status.
            // (Each random draw is its own statement, as above.)
            const int a = random.between(48, 72);
            const int b = a + random.between(1, 12);
            const int va = random.between(40, 110);
            const int vb = random.between(40, 110);
            const int start = random.between(0, 60);
            const int toB = random.between(10, 60);
            const int offA = random.between(10, 60);
            const int offB = random.between(10, 60);
            w.noteOn(start, kChannel, a, va);
            w.noteOn(toB, kChannel, b, vb);
            w.noteOff(offA, kChannel, a);
            w.noteOff(offB, kChannel, b);
        } else {
            for (int i = 0; i < 4; ++i) {
                const int delta = random.between(0, 60);
                const int pressure = random.between(0, 127);
                w.channelPressure(delta, kChannel, pressure);
            }
        }
    };
    AppendTrackChunk(song, chunkBytes, "Generated single track", leadIn, pattern);
    FinishSong(song);
    return song;
}

bool WriteSongFile(const GeneratedSong& song, const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(song.bytes.data(), 1, song.bytes.size(), file) == song.bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "%s: could not write %zu bytes\n", path.c_str(), song.bytes.size());
        return false;
    }
    return true;
}

}  // namespace sonrigo::bench
