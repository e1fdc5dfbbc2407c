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
    Control* control = reactingControlAt(slot);
    if (control == nullptr) {
        return;
    }
    control->state = 1;
    composeAndPaint(slot);
    runHandler(onDown_, slot);
}

void SkinButtonGroup::onRelease(int slot)
{
    Control* control = reactingControlAt(slot);
    if (control == nullptr) {
        return;
    }
    control->state = 0;
    composeAndPaint(slot);
    runHandler(onUp_, slot);
}

}  // namespace sonrigo
