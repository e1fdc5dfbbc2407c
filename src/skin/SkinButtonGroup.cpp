#include "skin/SkinButtonGroup.h"

#include "skin/SkinStatic.h"

namespace sonrigo {

void SkinButtonGroup::setCaptionById(int id, const std::string& text)
{
    for (int slot = 0; slot < count(); ++slot) {
        if (Control* control = controlAt(slot); control != nullptr && control->widget->id() == id) {
            control->caption = text;
            compose(slot);
            return;
        }
    }
}

void SkinButtonGroup::onPress(int slot)
{
    drawThenRun(slot, 1, onDown_);
}

void SkinButtonGroup::onRelease(int slot)
{
    drawThenRun(slot, 0, onUp_);
}

void SkinButtonGroup::drawThenRun(int slot, int state, const SkinHandler& handler)
{
    Control* control = reactingControlAt(slot);
    if (control == nullptr) {
        return;
    }
    control->state = state;
    composeAndPaint(slot);
    runHandler(handler, slot);
}

}  // namespace sonrigo
