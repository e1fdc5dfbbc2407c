#include "CliDump.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <thread>

#include "common/ScopedMessageCapture.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiF1Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace sonrigo {
namespace {

enum class DumpForm { Tracks, Playable, PlayCopy };

constexpr char kHexDigits[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence at the start of bytes, or 0 when it does
// not start with one (overlong forms, surrogates and values past U+10FFFF are
// not valid).
std::size_t Utf8SequenceLength(std::string_view bytes)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80;   // range of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    }
    return length;
}

void AppendEscapedByte(std::string& out, unsigned char byte)
{
    const char escaped[] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
    out.append(escaped, sizeof escaped);
}

void AppendNumber(std::string& out, std::int64_t number)
{
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), number);
    out.append(digits, result.ptr);
}

std::string_view KindName(std::int32_t kind)
{
    switch (kind) {
    case EventKind::NoteOn: return "NoteOn";
    case EventKind::NoteOff: return "NoteOff";
    case EventKind::Note: return "Note";
    case EventKind::PolyPressure: return "PolyPressure";
    case EventKind::ControlChange: return "ControlChange";
    case EventKind::ProgramChange: return "ProgramChange";
    case EventKind::ChannelPressure: return "ChannelPressure";
    case EventKind::PitchBend: return "PitchBend";
    case EventKind::SysEx: return "SysEx";
    case EventKind::SysExEscape: return "SysExEscape";
    case EventKind::Meta: return "Meta";
    case EventKind::Removed: return "Removed";
    default: return {};
    }
}

// Meta records of these types keep their data in the other fields (or have
// none) and store no payload bytes.
bool StoresNoPayload(const MidiEvent& event)
{
    if (event.kind != EventKind::Meta)
        return false;
    switch (event.subtype) {
    case 0x00: case 0x20: case 0x2F: case 0x51: case 0x54: return true;
    default: return false;
    }
}

// Two characters per value: the decimal numbers 0-99 and the hex bytes.
struct DigitTables {
    char decimal[200];
    char hex[512];
    constexpr DigitTables() : decimal(), hex()
    {
        for (int i = 0; i < 100; ++i) {
            decimal[2 * i] = static_cast<char>('0' + i / 10);
            decimal[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
        for (int i = 0; i < 256; ++i) {
            hex[2 * i] = kHexDigits[i >> 4];
            hex[2 * i + 1] = kHexDigits[i & 0x0F];
        }
    }
};
constexpr DigitTables kDigits;

// Whose turn it is to write to the stream, by chunk number: the writers of a
// long list take its chunks in turn, so the output keeps list order.
class WriteTurn {
public:
    void waitFor(std::int64_t chunk) const
    {
        for (std::int64_t now = next_.load(std::memory_order_acquire); now != chunk;
             now = next_.load(std::memory_order_acquire))
            next_.wait(now, std::memory_order_acquire);
    }
    void pass(std::int64_t chunk)
    {
        next_.store(chunk + 1, std::memory_order_release);
        next_.notify_all();
    }

private:
    std::atomic<std::int64_t> next_{0};
};

// Builds the output in a block and hands it to the stream whenever the block
// is full. A dump of a song at the size limit is some 90 MB of text, written
// by this one loop: it writes straight into the block, not through strings.
class JsonLinesWriter {
public:
    explicit JsonLinesWriter(std::FILE* out) : out_(out), block_(new char[kBlock + kLineRoom]) {}
    // A writer of chunks of a list, writing only when the turn says.
    JsonLinesWriter(std::FILE* out, WriteTurn& turn) : JsonLinesWriter(out) { turn_ = &turn; }
    JsonLinesWriter(const JsonLinesWriter&) = delete;
    JsonLinesWriter& operator=(const JsonLinesWriter&) = delete;

    void message(std::string_view text)
    {
        std::string line = "{\"message\": ";
        AppendJsonString(line, text);
        put(line);
        endLine();
    }

    void trackHeader(std::int32_t index, std::int32_t count)
    {
        std::string line = "{\"track\": ";
        AppendNumber(line, index);
        line += ", \"count\": ";
        AppendNumber(line, count);
        put(line);
        endLine();
    }

    void songHeader(std::int32_t division, std::int32_t count, std::optional<std::int32_t> cut)
    {
        std::string line = "{\"division\": ";
        AppendNumber(line, division);
        line += ", \"count\": ";
        AppendNumber(line, count);
        if (cut) {
            line += ", \"cut\": ";
            AppendNumber(line, *cut);
        }
        put(line);
        endLine();
    }

    // A list long enough is written by two threads, each formatting every
    // other chunk of it while the other one writes.
    void events(const MidiTrackData& track)
    {
        if (track.count() < 2 * kChunk) {
            eventRange(track, 0, track.count(), 0);
            return;
        }
        write();
        std::fflush(out_);
        const std::int64_t chunks = (track.count() + kChunk - 1) / kChunk;
        std::vector<std::int64_t> startTicks(static_cast<std::size_t>(chunks));
        std::int64_t tick = 0;
        for (std::int32_t i = 0; i < track.count(); ++i) {
            if (i % kChunk == 0)
                startTicks[static_cast<std::size_t>(i / kChunk)] = tick;
            tick += track.event(i).delta;
        }
        WriteTurn turn;
        auto writeEvery = [&](std::int64_t first) {
            JsonLinesWriter chunkWriter(out_, turn);
            for (std::int64_t c = first; c < chunks; c += 2) {
                chunkWriter.chunk_ = c;
                const auto begin = static_cast<std::int32_t>(c * kChunk);
                const std::int32_t end = std::min(track.count(), begin + kChunk);
                chunkWriter.eventRange(track, begin, end, startTicks[static_cast<std::size_t>(c)]);
                chunkWriter.write();
                turn.waitFor(c);  // a chunk of no output still takes its turn
                turn.pass(c);
            }
        };
        std::thread other(writeEvery, 1);
        writeEvery(0);
        other.join();
    }

    // Writes what is left; false when the stream reported an error.
    bool finish()
    {
        write();
        return std::fflush(out_) == 0 && std::ferror(out_) == 0;
    }

private:
    static constexpr std::size_t kBlock = 1 << 20;
    // Records in a chunk of a long list: about a megabyte of output.
    static constexpr std::int32_t kChunk = 8192;
    // Room past the block for one line without its payload (names and
    // twelve numbers), and for a slice of payload.
    static constexpr std::size_t kLineRoom = 4096;
    static constexpr std::size_t kPayloadSlice = 1024;

    template <std::size_t N>
    static char* text(char* at, const char (&literal)[N])
    {
        std::memcpy(at, literal, N - 1);
        return at + N - 1;
    }

    static char* number(char* at, std::int64_t value)
    {
        if (value >= 0 && value < 10) {
            *at = static_cast<char>('0' + value);
            return at + 1;
        }
        if (value >= 10 && value < 100) {
            std::memcpy(at, kDigits.decimal + 2 * value, 2);
            return at + 2;
        }
        return std::to_chars(at, at + 24, value).ptr;
    }

    template <std::size_t N>
    static char* field(char* at, const char (&name)[N], std::int64_t value)
    {
        return number(text(at, name), value);
    }

    // Records [begin, end) of the track, the tick before begin being tick.
    void eventRange(const MidiTrackData& track, std::int32_t begin, std::int32_t end, std::int64_t tick)
    {
        for (std::int32_t i = begin; i < end; ++i) {
            const MidiEvent& event = track.event(i);
            tick += event.delta;
            this->event(i, tick, event);
        }
    }

    void event(std::int32_t index, std::int64_t tick, const MidiEvent& event)
    {
        char* at = block_.get() + used_;
        at = field(at, "{\"i\": ", index);
        at = field(at, ", \"tick\": ", tick);
        at = field(at, ", \"delta\": ", event.delta);
        at = text(at, ", \"kind\": ");
        const std::string_view name = KindName(event.kind);
        if (name.empty()) {
            at = number(at, event.kind);
        } else {
            *at++ = '"';
            std::memcpy(at, name.data(), name.size());
            at += name.size();
            *at++ = '"';
        }
        at = field(at, ", \"ch\": ", event.channel);
        at = field(at, ", \"data1\": ", event.data1);
        at = field(at, ", \"duration\": ", event.duration);
        at = field(at, ", \"velocity\": ", event.velocity);
        at = field(at, ", \"subtype\": ", event.subtype);
        at = field(at, ", \"value\": ", event.value);
        at = field(at, ", \"length\": ", event.length);
        at = text(at, ", \"payload\": \"");
        used_ = static_cast<std::size_t>(at - block_.get());
        if (!StoresNoPayload(event)) {
            const std::span<const std::uint8_t> bytes = event.payloadBytes();
            // Bytes never written read as zero.
            const std::size_t zeros =
                event.length > 0 && static_cast<std::size_t>(event.length) > bytes.size()
                    ? static_cast<std::size_t>(event.length) - bytes.size()
                    : 0;
            for (std::size_t done = 0; done < bytes.size();) {
                const std::size_t slice = std::min(bytes.size() - done, kPayloadSlice);
                char* hex = room(2 * slice);
                for (std::size_t i = 0; i < slice; ++i)
                    std::memcpy(hex + 2 * i, kDigits.hex + 2 * bytes[done + i], 2);
                used_ += 2 * slice;
                done += slice;
            }
            for (std::size_t done = 0; done < zeros;) {
                const std::size_t slice = std::min(zeros - done, kPayloadSlice);
                std::memset(room(2 * slice), '0', 2 * slice);
                used_ += 2 * slice;
                done += slice;
            }
        }
        *room(1) = '"';
        ++used_;
        endLine();
    }

    // Where count more bytes (at most kLineRoom) can go, writing the block first if needed.
    char* room(std::size_t count)
    {
        if (used_ + count > kBlock + kLineRoom)
            write();
        return block_.get() + used_;
    }

    void put(std::string_view bytes)
    {
        for (std::size_t done = 0; done < bytes.size();) {
            const std::size_t slice = std::min(bytes.size() - done, kPayloadSlice);
            std::memcpy(room(slice), bytes.data() + done, slice);
            used_ += slice;
            done += slice;
        }
    }

    void endLine()
    {
        std::memcpy(room(2), "}\n", 2);
        used_ += 2;
        if (used_ >= kBlock)
            write();
    }

    void write()
    {
        if (used_ != 0) {
            if (turn_ != nullptr)
                turn_->waitFor(chunk_);
            std::fwrite(block_.get(), 1, used_, out_);
        }
        used_ = 0;
    }

    std::FILE* out_;
    WriteTurn* turn_ = nullptr;
    std::int64_t chunk_ = 0;  // the chunk being written, with a turn
    std::unique_ptr<char[]> block_;
    std::size_t used_ = 0;  // bytes of the block filled; below kBlock between lines
};

std::optional<DumpForm> ParseForm(std::string_view name)
{
    if (name == "tracks")
        return DumpForm::Tracks;
    if (name == "playable")
        return DumpForm::Playable;
    if (name == "playcopy")
        return DumpForm::PlayCopy;
    return std::nullopt;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
            ++i;
        } else if (byte < 0x20) {
            AppendEscapedByte(out, byte);
            ++i;
        } else {
            const std::size_t length = Utf8SequenceLength(text.substr(i));
            if (length == 0) {
                AppendEscapedByte(out, byte);
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
        }
    }
    out += '"';
}

int RunDump(const std::vector<std::string>& args, std::FILE* out)
{
    DumpForm form = DumpForm::Playable;
    std::optional<std::string> path;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--form" || arg.starts_with("--form=")) {
            std::string_view name;
            if (arg == "--form") {
                if (++i == args.size())
                    return kDumpUsageError;
                name = args[i];
            } else {
                name = std::string_view(arg).substr(7);
            }
            const std::optional<DumpForm> parsed = ParseForm(name);
            if (!parsed)
                return kDumpUsageError;
            form = *parsed;
        } else if (arg.starts_with("-") || path) {
            return kDumpUsageError;
        } else {
            path = arg;
        }
    }
    if (!path)
        return kDumpUsageError;

    // Declared first so that messages shown while the song is released are
    // still captured, and dropped.
    ScopedMessageCapture capture;
    MidiFileLoader loader(*path);
    bool playable = loader.size() != 0 && loader.song() != nullptr;
    std::unique_ptr<MidiF0Data> playCopy;
    std::int32_t cut = 0;
    if (playable && form != DumpForm::Tracks) {
        loader.Flatten();
        playable = loader.size() != 0 && loader.playable() != nullptr;
        if (playable && form == DumpForm::PlayCopy) {
            playCopy = loader.playable()->MakePlayCopy(cut);
            playable = playCopy != nullptr;
        }
    }

    JsonLinesWriter writer(out);
    for (const std::string& text : capture.take())
        writer.message(text);
    if (playable) {
        switch (form) {
        case DumpForm::Tracks: {
            MidiF1Data& song = *loader.song();
            for (std::int32_t t = 0; t < song.trackCount(); ++t) {
                writer.trackHeader(t, song.track(t).count());
                writer.events(song.track(t));
            }
            break;
        }
        case DumpForm::Playable: {
            const MidiF0Data& song = *loader.playable();
            writer.songHeader(song.division(), song.track().count(), std::nullopt);
            writer.events(song.track());
            break;
        }
        case DumpForm::PlayCopy:
            writer.songHeader(playCopy->division(), playCopy->track().count(), cut);
            writer.events(playCopy->track());
            break;
        }
    }
    if (!writer.finish()) {
        std::fputs("sonrigo-cli: cannot write the output\n", stderr);
        return 1;
    }
    return playable ? 0 : 1;
}

}  // namespace sonrigo
