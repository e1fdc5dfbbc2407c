#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/SampleSink.h"

namespace sonrigo {

// Writes what a device plays to a sound file through libsndfile, one channel
// of 16 bits: WAV, or FLAC or Ogg Vorbis when the name ends in .flac or .ogg
// (.oga); a name without an extension is WAV, any other extension is refused.
//
// A regular file, or a name not yet taken, is written under a hidden
// temporary name of its own beside the final one, which commit() renames to
// the final name; a sink destroyed without commit removes it, so that an
// interrupted run never leaves a partial file under the final name. A
// character device (/dev/null) or a FIFO is written in place instead, never
// renamed over. Into a FIFO or pipe a WAV goes with both lengths unknown (all
// ones), as streamed WAVs do: nothing can seek back to fill them in. Anything
// else under the name, a folder say, is refused.
class SoundFileSink final : public SampleSink {
public:
    // Null, with the reason in `error`, when the file cannot be created. May
    // wait for a FIFO's reader to open it, as any writer into a FIFO does.
    static std::unique_ptr<SoundFileSink> Create(const std::string& path, std::int32_t sampleRate, std::string& error);
    ~SoundFileSink() override;
    SoundFileSink(const SoundFileSink&) = delete;
    SoundFileSink& operator=(const SoundFileSink&) = delete;

    void write(const std::int16_t* frames, std::size_t count) override;
    // Frames taken so far.
    std::int64_t frames() const { return frames_; }
    // True once a write has failed (a full disk, /dev/full, a FIFO whose
    // reader went away): whatever follows is dropped. Safe from any thread.
    bool failed() const;
    // The hidden temporary file; empty when writing in place. What a process
    // that must end without this object's destructor removes itself.
    const std::string& partialPath() const { return partialPath_; }
    // Finishes the file and moves it to the final name; false, with the
    // reason in `error`, when writing or renaming failed (nothing is left).
    bool commit(std::string& error);

    // The descriptor libsndfile writes through; known to the source file only.
    struct Output;

private:
    SoundFileSink(void* file, std::unique_ptr<Output> output, std::string path, std::string partialPath);
    void discard();
    void flush();

    static constexpr std::size_t kPendingFrames = 16384;  // 32 KB, a third of a second

    void* file_;  // SNDFILE*
    const std::unique_ptr<Output> output_;
    const std::string path_;
    const std::string partialPath_;
    std::int64_t frames_ = 0;
    std::atomic<bool> failed_{false};
    std::vector<std::int16_t> pending_;
};

}  // namespace sonrigo
