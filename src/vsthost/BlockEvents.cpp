#include "vsthost/BlockEvents.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace sonrigo {
namespace {

constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::int16_t kNoValue = -1;

vst::VstEvent** PointersOf(vst::VstEvents* block)
{
    return reinterpret_cast<vst::VstEvent**>(reinterpret_cast<std::byte*>(block) + offsetof(vst::VstEvents, events));
}

bool IsNoteOff(std::uint8_t status, std::uint8_t velocity)
{
    const auto kind = static_cast<std::uint8_t>(status & 0xF0);
    return kind == kNoteOff || (kind == kNoteOn && velocity == 0);
}

}  // namespace

void BlockEvents::FreeBlock::operator()(vst::VstEvents* block) const
{
    std::free(block);
}

BlockEvents::BlockEvents(std::int32_t capacity)
{
    for (auto& channel : keptControllers_)
        channel.fill(kNoValue);
    const auto count = static_cast<std::size_t>(std::max(capacity, 0));
    // The published record declares two pointers; never allocate less.
    const std::size_t bytes =
        std::max(sizeof(vst::VstEvents), offsetof(vst::VstEvents, events) + count * sizeof(vst::VstEvent*));
    for (Store& store : stores_) {
        store.block.reset(static_cast<vst::VstEvents*>(std::calloc(1, bytes)));
        store.entries.reset(new (std::nothrow) vst::VstMidiEvent[count]());
        if (!store.block || !store.entries)
            return;  // capacity stays 0: every event is dropped or kept
    }
    capacity_ = static_cast<std::int32_t>(count);
    for (Store& store : stores_) {
        vst::VstEvent** pointers = PointersOf(store.block.get());
        for (std::size_t i = 0; i < count; ++i)
            pointers[i] = reinterpret_cast<vst::VstEvent*>(&store.entries[i]);
    }
}

void BlockEvents::put(Store& store, const vst::VstMidiEvent& event)
{
    store.entries[static_cast<std::size_t>(store.count++)] = event;
}

void BlockEvents::add(const vst::VstMidiEvent& event)
{
    Store& store = filling();
    if (store.count < capacity_)
        put(store, event);
    else
        keepOrDrop(event);
}

void BlockEvents::keep(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    keepOrDrop(vst::MakeMidiEvent(status, data1 & 0x7F, data2 & 0x7F));
}

void BlockEvents::keepOrDrop(const vst::VstMidiEvent& event)
{
    const auto status = static_cast<std::uint8_t>(event.midiData[0]);
    const auto data1 = static_cast<std::size_t>(event.midiData[1] & 0x7F);
    const auto data2 = static_cast<std::uint8_t>(event.midiData[2] & 0x7F);
    const std::size_t channel = status & 0x0F;
    if (IsNoteOff(status, data2)) {
        if (!keptNoteOffs_[channel].test(data1)) {
            keptNoteOffs_[channel].set(data1);
            ++keptCount_;
        }
        return;
    }
    if ((status & 0xF0) == kControlChange) {
        if (keptControllers_[channel][data1] == kNoValue)
            ++keptCount_;
        keptControllers_[channel][data1] = data2;
        return;
    }
    ++dropped_;
}

void BlockEvents::addKept()
{
    // Taken out first: what does not fit this time is kept again by add.
    const auto noteOffs = keptNoteOffs_;
    const auto controllers = keptControllers_;
    keptNoteOffs_ = {};
    for (auto& channel : keptControllers_)
        channel.fill(kNoValue);
    keptCount_ = 0;
    // The notes first: a controller kept with them (the sustain pedal, all
    // notes off) is then the last word.
    for (std::size_t channel = 0; channel < noteOffs.size(); ++channel) {
        const auto status = static_cast<std::uint8_t>(channel);
        for (std::size_t note = 0; note < 128; ++note) {
            if (noteOffs[channel].test(note))
                add(vst::MakeMidiEvent(kNoteOff | status, static_cast<std::uint8_t>(note), 0));
        }
        for (std::size_t number = 0; number < 128; ++number) {
            if (controllers[channel][number] != kNoValue)
                add(vst::MakeMidiEvent(kControlChange | status, static_cast<std::uint8_t>(number),
                              static_cast<std::uint8_t>(controllers[channel][number])));
        }
    }
}

void BlockEvents::handOver(std::int32_t frames)
{
    Store& full = filling();
    const std::int32_t last = std::max(frames - 1, 0);
    // After a late wake-up an event can be stamped past the block it is
    // handed over with; plug-ins index their buffers with the offset.
    for (std::int32_t i = 0; i < full.count; ++i) {
        vst::VstMidiEvent& event = full.entries[static_cast<std::size_t>(i)];
        event.deltaFrames = std::clamp(event.deltaFrames, 0, last);
    }
    if (full.block)
        full.block->numEvents = full.count;
    fillingIndex_ = 1 - fillingIndex_;
    filling().count = 0;
    if (keptCount_ > 0)
        addKept();
}

void BlockEvents::clear()
{
    for (Store& store : stores_) {
        store.count = 0;
        if (store.block)
            store.block->numEvents = 0;
    }
    keptNoteOffs_ = {};
    for (auto& channel : keptControllers_)
        channel.fill(kNoValue);
    keptCount_ = 0;
}

vst::VstEvents* BlockEvents::handed() const
{
    const Store& store = stores_[1 - fillingIndex_];
    return store.block && store.count > 0 ? store.block.get() : nullptr;
}

}  // namespace sonrigo
