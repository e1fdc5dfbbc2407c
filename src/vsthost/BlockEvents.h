#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>

#include "vsthost/VstApi.h"

namespace sonrigo {

// The MIDI events of one plug-in's coming blocks, in two stores used in turn:
// events are queued into one while the plug-in may still be reading the
// other, which it was handed for the block it is rendering (VST 2 plug-ins
// may read their events until their next process call has returned).
//
// A store holds `capacity` events. When the one being filled is full, a
// note-off or a controller is kept for the block after (a controller's last
// value wins), so that no note is left hanging; a note-on is dropped and
// counted.
//
// Allocates everything at construction; nothing afterwards. add, keep and
// handOver must not run at the same time (the owner serialises them); handed
// is read by the thread that renders, between handOver and the next one.
class BlockEvents {
public:
    explicit BlockEvents(std::int32_t capacity);

    // Copies the event into the store being filled.
    void add(const vst::VstMidiEvent& event);
    // Keeps a note-off or a controller for the next block without queueing
    // it in this one; anything else is dropped (while nothing renders, a
    // note cannot start in time, but one that stops must still stop).
    void keep(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    // The store being filled becomes the one handed to the plug-in, each
    // offset kept inside the block of `frames`; the other one, whose block
    // has been rendered, is emptied and filled first with what was kept.
    void handOver(std::int32_t frames);
    // Forgets everything queued and kept, and the store handed over.
    void clear();

    // What the last handOver gave the plug-in; null when it holds nothing.
    vst::VstEvents* handed() const;
    // Queued since the last handOver.
    std::int32_t queued() const { return filling().count; }
    std::int32_t capacity() const { return capacity_; }
    // Note-ons dropped for want of room, since construction.
    std::uint64_t dropped() const { return dropped_; }

private:
    struct FreeBlock {
        void operator()(vst::VstEvents* block) const;
    };
    struct Store {
        // numEvents, the reserved field and capacity pointers to entries.
        std::unique_ptr<vst::VstEvents, FreeBlock> block;
        std::unique_ptr<vst::VstMidiEvent[]> entries;
        std::int32_t count = 0;
    };

    Store& filling() { return stores_[fillingIndex_]; }
    const Store& filling() const { return stores_[fillingIndex_]; }
    void put(Store& store, const vst::VstMidiEvent& event);
    void keepOrDrop(const vst::VstMidiEvent& event);
    void addKept();

    std::int32_t capacity_ = 0;
    std::array<Store, 2> stores_;
    std::size_t fillingIndex_ = 0;
    // Kept for the next block, per channel: note-offs, and controller values
    // (-1: none).
    std::array<std::bitset<128>, 16> keptNoteOffs_{};
    std::array<std::array<std::int16_t, 128>, 16> keptControllers_{};
    std::int32_t keptCount_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace sonrigo
