#pragma once

#include <QPixmap>
#include <QPointer>
#include <QRect>

#include <functional>
#include <string>
#include <vector>

namespace sonrigo {

class SkinStatic;

// The owner's handler of a press or a release, given the control's index.
using SkinHandler = std::function<void(int index)>;

// What push buttons and switches have in common: skinned controls with a
// bitmap for each of two states and a caption drawn over it, told of presses
// and releases by their SkinStatic.
//
// Composing a control: fill white, draw the state's bitmap at (0, 0), draw the
// caption. The caption is UTF-8 text kept exactly as given: leading blanks
// move the text right, which is how the window's captions are placed. It is
// drawn in one line, vertically centred and left-aligned in the box from
// (2, 2) to (210, 28), right and bottom edges excluded, and cut at that box;
// dark green while the control is enabled, olive grey while it is disabled
// (as the control was at the last composition), in the control's font.
//
// Borrows the controls (their parent owns them; one deleted before the group
// is skipped). User-interface thread only; the handlers run inside the mouse
// event, and may change the group (a switch's state, a caption) or end it.
class SkinControlGroup {
public:
    // The window has 40 push buttons and 32 switches.
    static constexpr int kMaxControls = 64;

    virtual ~SkinControlGroup();
    SkinControlGroup(const SkinControlGroup&) = delete;
    SkinControlGroup& operator=(const SkinControlGroup&) = delete;

    // Starts the group afresh with these handlers and this first control.
    bool create(SkinHandler onDown, SkinHandler onUp, SkinStatic* control, QRect rect, const std::string& caption,
                int normalBitmapId, int pressedBitmapId, int index);
    // Sets the control up at rect (in its parent's coordinates), sets its id
    // to index, loads the bitmaps of the off and on states and composes it,
    // off. The handlers are given index, and setCaptionById finds the control
    // by it; the window gives each control its place in the order of adding.
    // False, and nothing changed, for a null control or a
    // 65th one.
    bool add(SkinStatic* control, QRect rect, const std::string& caption, int normalBitmapId, int pressedBitmapId,
             int index);
    // Schedules every control's surface to be copied to the screen.
    void paintAll();
    // Releases the surfaces and lets the controls go; presses on them are no
    // longer reported.
    void destroy();

    int count() const { return static_cast<int>(controls_.size()); }

protected:
    SkinControlGroup() = default;

    struct Control {
        QPointer<SkinStatic> widget;
        QPixmap normal;
        QPixmap pressed;
        std::string caption;
        int state = 0;
    };

    // The group's reactions to a press and a release (also a press dragged
    // off) of the control in that slot.
    virtual void onPress(int slot) = 0;
    virtual void onRelease(int slot) = 0;

    // The control in that slot, or null when there is no such slot or its
    // widget is gone.
    Control* controlAt(int slot);
    // The same, and null also while the control's id is -1: such a control
    // ignores presses.
    Control* reactingControlAt(int slot);
    void compose(int slot);
    void composeAndPaint(int slot);
    // Runs a handler with the control's id, from a copy: the handler may
    // replace the group's handlers.
    void runHandler(const SkinHandler& handler, int slot);

    SkinHandler onDown_;
    SkinHandler onUp_;
    std::vector<Control> controls_;
};

}  // namespace sonrigo
