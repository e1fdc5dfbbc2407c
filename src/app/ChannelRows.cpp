#include "app/ChannelRows.h"

#include <algorithm>
#include <utility>

#include "app/ChannelState.h"
#include "app/GmProgramNames.h"
#include "app/ProgramRack.h"
#include "app/RowView.h"

namespace sonrigo {
namespace {

constexpr std::int32_t kFirstSpinValue = 1;
constexpr std::int32_t kLastSpinValue = 128;

bool validRow(std::int32_t row)
{
    return row >= 0 && row < ChannelRows::kRows;
}

bool isContinuationByte(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

void ChannelRows::setMidiOutName(std::string name)
{
    if (name.size() > kMaxOutputNameBytes) {
        std::size_t cut = kMaxOutputNameBytes;
        // A UTF-8 character is at most four bytes: back off over at most
        // three continuation bytes; a longer run is not UTF-8 and is cut
        // where it stands.
        for (std::size_t back = 0; back < 3 && cut > 0 && isContinuationByte(name[cut]); ++back)
            --cut;
        if (isContinuationByte(name[cut]))
            cut = kMaxOutputNameBytes;
        name.resize(cut);
    }
    midiOutName_ = std::move(name);
}

void ChannelRows::startUp()
{
    for (std::int32_t row = 0; row < kRows; ++row) {
        view_.setOutputName(row, midiOutName_);
        state_.setChannelProgramFixed(row, false);
        view_.setSwitch(row, false);
        state_.setChannelRoute(row, RouteInternal);
        view_.setSpinRange(row, kFirstSpinValue, kLastSpinValue);
        view_.setSpinValue(row, kFirstSpinValue);
        showGmProgramName(row, 0);
        view_.setSwitch(kChannelSwitchBase + row, true);
        state_.setChannelNotesOn(row, true);
    }
}

void ChannelRows::showGmProgramName(std::int32_t channel, std::int32_t program)
{
    if (!validRow(channel))
        return;
    if (channel == kRhythmChannel)
        view_.setProgramName(channel, "---");
    else
        view_.setProgramName(channel, std::string(GmProgramName(program)));
}

void ChannelRows::showProgram(std::int32_t row, std::int32_t spinValue)
{
    if (!validRow(row))
        return;
    spinValue = std::clamp(spinValue, 1, 128);
    if (state_.channelRoute(row) == RouteInstrument)
        view_.setProgramName(row, rack_ != nullptr ? rack_->programName(row) : std::string());
    else
        showGmProgramName(row, spinValue - 1);
    view_.setSpinValue(row, spinValue);
}

void ChannelRows::onSwitchButton(std::int32_t index)
{
    if (index >= 0 && index < kChannelSwitchBase)
        state_.setChannelProgramFixed(index, view_.switchOn(index));
    else if (index >= kChannelSwitchBase && index < kChannelSwitchBase + kRows)
        state_.setChannelNotesOn(index - kChannelSwitchBase, view_.switchOn(index));
}

void ChannelRows::routeInternal(std::int32_t row)
{
    if (!validRow(row))
        return;
    view_.setOutputName(row, midiOutName_);
    showGmProgramName(row, 0);
    state_.setChannelRoute(row, RouteInternal);
}

void ChannelRows::routeAllInternal()
{
    for (std::int32_t row = 0; row < kRows; ++row)
        routeInternal(row);
}

void ChannelRows::toggleAllChannels()
{
    const bool on = channelAllFlag_ == 1;
    for (std::int32_t row = 0; row < kRows; ++row) {
        view_.setSwitch(kChannelSwitchBase + row, on);
        state_.setChannelNotesOn(row, view_.switchOn(kChannelSwitchBase + row));
    }
    channelAllFlag_ = on ? 0 : 1;
    view_.repaint();
}

void ChannelRows::toggleAllFixed()
{
    std::int32_t lit = 0;
    for (std::int32_t row = 0; row < kRows; ++row)
        lit += view_.switchOn(row) ? 1 : 0;
    const bool on = lit <= kRows / 2;
    for (std::int32_t row = 0; row < kRows; ++row) {
        view_.setSwitch(row, on);
        state_.setChannelProgramFixed(row, view_.switchOn(row));
    }
    view_.repaint();
}

void ChannelRows::onProgramNumberChanged(std::int32_t row)
{
    if (!state_.isReady() || !validRow(row) || handlingProgramChange_[row])
        return;
    const std::int32_t value = view_.spinValue(row);
    if (value < kFirstSpinValue || value > kLastSpinValue)
        return;
    if (state_.channelRoute(row) == RouteInternal) {
        showGmProgramName(row, value - 1);
        return;
    }
    handlingProgramChange_[row] = true;
    std::string name;
    std::int32_t program = 0;
    if (rack_ != nullptr) {
        rack_->setProgram(row, value - 1);
        name = rack_->programName(row);
        program = rack_->getProgram(row);
    }
    view_.setProgramName(row, std::move(name));
    // A plug-in may report any number; the spin shows 1..128.
    view_.setSpinValue(row, std::clamp(program, kFirstSpinValue - 1, kLastSpinValue - 1) + 1);
    handlingProgramChange_[row] = false;
}

}  // namespace sonrigo
