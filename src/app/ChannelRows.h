#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sonrigo {

class ChannelState;
class ProgramRack;
class RowView;

// The sixteen channel rows: what each row shows and what the row and column
// commands do to the channel state. Borrows the state, the view and the rack,
// which must outlive it. Everything runs on the user-interface thread; the
// playback callbacks hand their row updates to that thread before they reach
// here.
class ChannelRows {
public:
    static constexpr std::int32_t kRows = 16;
    static constexpr std::int32_t kRhythmChannel = 9;
    // The longest output name the rows keep, in bytes: the device's product
    // name has always been cut to fit 32 bytes with its terminator.
    static constexpr std::size_t kMaxOutputNameBytes = 31;

    ChannelRows(ChannelState& state, RowView& view) : state_(state), view_(view) {}
    ChannelRows(const ChannelRows&) = delete;
    ChannelRows& operator=(const ChannelRows&) = delete;

    // Null until the rack exists, and again once it is gone.
    void setRack(ProgramRack* rack) { rack_ = rack; }
    // Keeps at most kMaxOutputNameBytes bytes, never splitting a UTF-8
    // character.
    void setMidiOutName(std::string name);
    const std::string& midiOutName() const { return midiOutName_; }

    // Every row as the window opens: the output device's name, "Fix" off,
    // spin 1 of 1..128 with program 0's name, routed to the output device,
    // channel switch on. The spin's notifications change nothing here as long
    // as the state is not ready.
    void startUp();

    // "---" on the rhythm channel whatever the program; otherwise the General
    // MIDI name.
    void showGmProgramName(std::int32_t channel, std::int32_t program);
    // A program change the song played: the row shows its name (the
    // instrument's, or the General MIDI one) and its number.
    void showProgram(std::int32_t row, std::int32_t spinValue);
    // After a press has flipped switch `index`: its flag follows it.
    void onSwitchButton(std::int32_t index);
    // The "Itnl" button: the channel to the MIDI output device. An instrument
    // in the slot stays loaded and the spin keeps its value.
    void routeInternal(std::int32_t row);
    void routeAllInternal();
    // Switches every channel off, the next time on, and so on, whatever the
    // switches show.
    void toggleAllChannels();
    // All "Fix" switches off when more than half are on, else all on.
    void toggleAllFixed();
    // The program-number field of `row` changed: the row's program follows
    // the spin, and for an instrument the spin follows what it reports.
    void onProgramNumberChanged(std::int32_t row);

    int channelAllFlag() const { return channelAllFlag_; }

private:
    static constexpr std::int32_t kChannelSwitchBase = 16;

    ChannelState& state_;
    RowView& view_;
    ProgramRack* rack_ = nullptr;
    std::string midiOutName_;
    int channelAllFlag_ = 0;
    // Rows whose program-number change is being handled: the spin that the
    // handler sets notifies again, and an instrument that answers another
    // number every time would otherwise never let it end.
    std::array<bool, kRows> handlingProgramChange_{};
};

}  // namespace sonrigo
