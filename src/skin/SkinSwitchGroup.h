#pragma once

#include "skin/SkinControlGroup.h"

namespace sonrigo {

// On/off switches: each press flips the switch, and it shows the bitmap of its
// state. The handlers run before the switch is drawn, so that what onDown
// does to it (setState, enabling or disabling it) is what the window shows.
class SkinSwitchGroup : public SkinControlGroup {
public:
    // False for a slot the group does not have.
    bool isOn(int index) const;
    // Composes the switch in its new state; the window shows it at its next
    // paint. Nothing for a slot the group does not have.
    void setState(int index, bool on);

protected:
    void onPress(int slot) override;
    void onRelease(int slot) override;
};

}  // namespace sonrigo
