#pragma once

#include <string>

#include "skin/SkinControlGroup.h"

namespace sonrigo {

// Push buttons: a button shows its pressed bitmap while the left button is
// held on it. A press draws the button pressed before onDown runs; a release,
// or the press dragged off, draws it released before onUp runs. A press runs
// onDown once, whatever the pointer does until the button is up.
class SkinButtonGroup : public SkinControlGroup {
public:
    // Replaces the caption of the first control whose id is id and composes
    // it; the window shows it at its next paint. An id no control has changes
    // nothing.
    void setCaptionById(int id, const std::string& text);

protected:
    void onPress(int slot) override;
    void onRelease(int slot) override;

private:
    // Shows the button in its new state, then tells the owner.
    void drawThenRun(int slot, int state, const SkinHandler& handler);
};

}  // namespace sonrigo
