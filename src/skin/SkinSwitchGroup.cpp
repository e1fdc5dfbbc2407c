#include "skin/SkinSwitchGroup.h"

#include "skin/SkinStatic.h"

namespace sonrigo {

bool SkinSwitchGroup::isOn(int index) const
{
    return index >= 0 && index < count() && controls_[index].state == 1;
}

void SkinSwitchGroup::setState(int index, bool on)
{
    if (Control* control = controlAt(index)) {
        control->state = on ? 1 : 0;
        compose(index);
    }
}

void SkinSwitchGroup::onPress(int slot)
{
    Control* control = reactingControlAt(slot);
    if (control == nullptr) {
        return;
    }
    control->state = control->state == 1 ? 0 : 1;
    runHandler(onDown_, slot);
    composeAndPaint(slot);
}

void SkinSwitchGroup::onRelease(int slot)
{
    Control* control = reactingControlAt(slot);
    if (control == nullptr) {
        return;
    }
    runHandler(onUp_, slot);
    composeAndPaint(slot);
}

}  // namespace sonrigo
