#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/SoftSynth.h"

namespace sonrigo {

// The built-in synth's place in the rack's render pass: the messages queued
// for it since the last pass, each stamped with its frame offset in the
// coming block, and the rendering split at those offsets, so that a message
// takes effect at its frame as an instrument's event does.
//
// Everything is allocated at construction: queueing and rendering allocate
// nothing. The owner (the rack) serialises queue() and handOver() with its
// lock; renderInto() runs on the render thread without it, on what the last
// handOver() gave it. attach() only while no pass runs.
class SoftSynthLane {
public:
    // Room per pass: a second of a dense song's messages, the chase of all
    // sixteen channels at a start, and the reset's 32 controllers, many times.
    static constexpr std::size_t kMessageCapacity = 2048;
    static constexpr std::size_t kByteCapacity = 65536;

    // `maxFrames`: the largest block a pass renders.
    explicit SoftSynthLane(std::size_t maxFrames);

    // The synth to play (null: none; messages are then refused).
    void attach(std::shared_ptr<SoftSynth> synth);
    bool attached() const { return synth_ != nullptr; }

    // One message for the next pass, to take effect `deltaFrames` after the
    // block's start. False when no synth is attached, the message is empty
    // or the pass's room is full (the message is dropped and counted).
    bool queue(std::int32_t deltaFrames, std::span<const std::uint8_t> message);
    // Hands the queued messages to the pass that renders the next `frames`
    // frames: offsets are kept inside the block and never before an earlier
    // message's. What is queued from now on belongs to the pass after.
    void handOver(std::int32_t frames);
    // Plays the handed-over messages at their offsets and adds the synth's
    // sound, both channels averaged, to totals[0 .. frames).
    void renderInto(double* totals, std::int32_t frames);

    // Messages dropped for want of room since construction.
    std::uint64_t dropped() const { return dropped_; }

private:
    struct Entry {
        std::int32_t offset;
        std::uint32_t first;  // into the batch's bytes
        std::uint32_t size;
    };
    struct Batch {
        std::vector<Entry> entries;
        std::vector<std::uint8_t> bytes;
        void clear()
        {
            entries.clear();
            bytes.clear();
        }
    };
    void renderSpan(double* totals, std::size_t from, std::size_t to);

    std::shared_ptr<SoftSynth> synth_;
    Batch pending_;  // filled by queue()
    Batch handed_;   // read by renderInto()
    std::vector<float> left_;
    std::vector<float> right_;
    std::uint64_t dropped_ = 0;
};

}  // namespace sonrigo
