#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/ErrorTable.h"
#include "common/ZeroedBlock.h"

namespace sonrigo {

class MidiF0Data;
class MidiF1Data;

// What "Load MIDI" makes: asks for a file, reads it, tells its format and
// builds a multi-track song from it, which Flatten then turns into the one
// playable track. Owns everything it builds. User-interface thread only.
class MidiFileLoader {
public:
    static constexpr std::string_view kDefaultExtension = "mid";
    static constexpr std::string_view kFilter = "SMF files|*.mid|";

    // Asks for a file through the installed file dialog and loads it; a
    // cancelled dialog leaves size 0 and an empty path.
    MidiFileLoader();
    // Loads path without asking.
    explicit MidiFileLoader(const std::string& path);
    ~MidiFileLoader();
    MidiFileLoader(const MidiFileLoader&) = delete;
    MidiFileLoader& operator=(const MidiFileLoader&) = delete;

    void Load(const std::string& path);
    // Merges the song's tracks, last to first, into the playable track.
    void Flatten();

    static std::string_view ReportError(ErrorCode code);

    // Bytes of the file read; 0 means no song was loaded.
    std::uint32_t size() const { return size_; }
    const std::string& path() const { return path_; }
    std::int32_t fileFormat() const { return fileFormat_; }
    std::int32_t songFormat() const { return songFormat_; }
    MidiF1Data* song() { return song_.get(); }
    MidiF0Data* playable() { return playable_.get(); }

private:
    std::uint32_t size_ = 0;
    ZeroedBlock fileBlock_;
    std::unique_ptr<MidiF1Data> song_;
    std::unique_ptr<MidiF0Data> playable_;
    std::int32_t songFormat_ = -1;
    std::int32_t fileFormat_ = -1;
    std::string path_;
};

}  // namespace sonrigo
