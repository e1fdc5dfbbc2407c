#include "CliDump.h"

#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

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

// Builds the output in one string and hands it to the stream in large blocks.
class JsonLinesWriter {
public:
    explicit JsonLinesWriter(std::FILE* out) : out_(out) { line_.reserve(kBlock + 4096); }
    JsonLinesWriter(const JsonLinesWriter&) = delete;
    JsonLinesWriter& operator=(const JsonLinesWriter&) = delete;

    void message(std::string_view text)
    {
        line_ += "{\"message\": ";
        AppendJsonString(line_, text);
        endLine();
    }

    void trackHeader(std::int32_t index, std::int32_t count)
    {
        line_ += "{\"track\": ";
        AppendNumber(line_, index);
        line_ += ", \"count\": ";
        AppendNumber(line_, count);
        endLine();
    }

    void songHeader(std::int32_t division, std::int32_t count, std::optional<std::int32_t> cut)
    {
        line_ += "{\"division\": ";
        AppendNumber(line_, division);
        line_ += ", \"count\": ";
        AppendNumber(line_, count);
        if (cut) {
            line_ += ", \"cut\": ";
            AppendNumber(line_, *cut);
        }
        endLine();
    }

    void events(const MidiTrackData& track)
    {
        std::int64_t tick = 0;
        for (std::int32_t i = 0; i < track.count(); ++i) {
            const MidiEvent& event = track.event(i);
            tick += event.delta;
            this->event(i, tick, event);
        }
    }

    // Writes what is left; false when the stream reported an error.
    bool finish()
    {
        write();
        return std::fflush(out_) == 0 && std::ferror(out_) == 0;
    }

private:
    static constexpr std::size_t kBlock = 1 << 20;

    void event(std::int32_t index, std::int64_t tick, const MidiEvent& event)
    {
        line_ += "{\"i\": ";
        AppendNumber(line_, index);
        line_ += ", \"tick\": ";
        AppendNumber(line_, tick);
        line_ += ", \"delta\": ";
        AppendNumber(line_, event.delta);
        line_ += ", \"kind\": ";
        const std::string_view name = KindName(event.kind);
        if (name.empty()) {
            AppendNumber(line_, event.kind);
        } else {
            line_ += '"';
            line_ += name;
            line_ += '"';
        }
        line_ += ", \"ch\": ";
        AppendNumber(line_, event.channel);
        line_ += ", \"data1\": ";
        AppendNumber(line_, event.data1);
        line_ += ", \"duration\": ";
        AppendNumber(line_, event.duration);
        line_ += ", \"velocity\": ";
        AppendNumber(line_, event.velocity);
        line_ += ", \"subtype\": ";
        AppendNumber(line_, event.subtype);
        line_ += ", \"value\": ";
        AppendNumber(line_, event.value);
        line_ += ", \"length\": ";
        AppendNumber(line_, event.length);
        line_ += ", \"payload\": \"";
        if (!StoresNoPayload(event)) {
            const std::span<const std::uint8_t> bytes = event.payloadBytes();
            for (const std::uint8_t byte : bytes) {
                line_ += kHexDigits[byte >> 4];
                line_ += kHexDigits[byte & 0x0F];
            }
            // Bytes never written read as zero.
            for (std::int64_t i = static_cast<std::int64_t>(bytes.size()); i < event.length; ++i)
                line_ += "00";
        }
        line_ += '"';
        endLine();
    }

    void endLine()
    {
        line_ += "}\n";
        if (line_.size() >= kBlock)
            write();
    }

    void write()
    {
        if (!line_.empty())
            std::fwrite(line_.data(), 1, line_.size(), out_);
        line_.clear();
    }

    std::FILE* out_;
    std::string line_;
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
