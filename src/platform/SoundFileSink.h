#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/SampleSink.h"

namespace sonrigo {

// Writes what a device plays to a sound file through libsndfile: WAV, or FLAC
// or Ogg Vorbis when the name ends in .flac or .ogg; one channel of 16 bits.
//
// The frames go to a hidden temporary file of a unique name beside the final
// one, which commit() renames to the final name; a sink destroyed without
// commit removes it, so that an interrupted run never leaves a partial file
// under the final name.
class SoundFileSink final : public SampleSink {
public:
    // Null, with the reason in `error`, when the file cannot be created.
    static std::unique_ptr<SoundFileSink> Create(const std::string& path, std::int32_t sampleRate, std::string& error);
    ~SoundFileSink() override;
    SoundFileSink(const SoundFileSink&) = delete;
    SoundFileSink& operator=(const SoundFileSink&) = delete;

    void write(const std::int16_t* frames, std::size_t count) override;
    // Frames taken so far.
    std::int64_t frames() const { return frames_; }
    // Finishes the file and moves it to the final name; false, with the
    // reason in `error`, when writing or renaming failed (nothing is left).
    bool commit(std::string& error);

private:
    SoundFileSink(void* file, std::string path, std::string partialPath);
    void discard();
    void flush();

    static constexpr std::size_t kPendingFrames = 16384;  // 32 KB, a third of a second

    void* file_;  // SNDFILE*
    const std::string path_;
    const std::string partialPath_;
    std::int64_t frames_ = 0;
    bool failed_ = false;
    std::vector<std::int16_t> pending_;
};

}  // namespace sonrigo
