#pragma once

#include <cstdint>
#include <string>

namespace sonrigo {

// The row controls as the channel rows see them: the main dialog implements
// it with its widgets, tests with a recorder. Rows are 0..15; switches are
// the 32 of the switch group, 0..15 the "Fix" switches and 16..31 the channel
// switches. Called on the user-interface thread only.
class RowView {
public:
    virtual ~RowView() = default;

    virtual void setOutputName(std::int32_t row, std::string name) = 0;
    virtual void setProgramName(std::int32_t row, std::string name) = 0;
    virtual std::int32_t spinValue(std::int32_t row) const = 0;
    virtual void setSpinRange(std::int32_t row, std::int32_t lo, std::int32_t hi) = 0;
    // Behaves as the spin does: keeps the value inside the range, rewrites
    // the program-number field, and only when the value changes notifies
    // ChannelRows::onProgramNumberChanged(row) before returning.
    virtual void setSpinValue(std::int32_t row, std::int32_t value) = 0;
    virtual bool switchOn(std::int32_t index) const = 0;
    // Composes the switch in its new state without painting it: repaint()
    // shows it.
    virtual void setSwitch(std::int32_t index, bool on) = 0;
    virtual void repaint() = 0;
};

}  // namespace sonrigo
