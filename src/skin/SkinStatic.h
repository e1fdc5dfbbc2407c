#pragma once

#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <functional>

class QMouseEvent;
class QPaintEvent;

namespace sonrigo {

// A press, a release or a move on a skinned control: client coordinates in
// logical pixels and the control's index in its group. Empty = not reported.
using SkinCallback = std::function<void(int x, int y, int id)>;

// A picture control of the main window: it shows an off-screen surface that
// its group composes, and reports the left button and the pointer to the
// group's callbacks.
//
// Showing it is always two steps: the group composes into surface(), then
// paint() copies the surface to the screen. paintEvent only copies; it never
// composes, so what the screen shows is what was last composed.
//
// A press dragged off the control is reported as one release at (-1, -1) the
// moment the pointer is outside; the button-up that follows outside is not
// reported, and dragging back in does not press again.
//
// User-interface thread only. The callbacks run inside the mouse event and
// may replace the callbacks or disable the control.
class SkinStatic : public QWidget {
    Q_OBJECT

public:
    explicit SkinStatic(QWidget* parent = nullptr);

    void setId(int id) { id_ = id; }
    // -1 until a group sets it.
    int id() const { return id_; }
    // From a left press until its release or until the pointer leaves.
    bool pressed() const { return pressed_; }

    // Mouse tracking is on only while onMove is set, so that moves without a
    // button held are reported to it as they would be to a window's own
    // mouse-move handler.
    void setCallbacks(SkinCallback onPress, SkinCallback onRelease, SkinCallback onMove);

    // Moves and sizes the control to rect (in its parent's coordinates), makes
    // its surface and sets the callbacks: what every group does to a control
    // it takes over.
    void setUp(QRect rect, SkinCallback onPress, SkinCallback onRelease, SkinCallback onMove);

    // The surface groups compose into: the control's size at its device pixel
    // ratio (so that it stays sharp on a high-density screen), with that ratio
    // set, so that painters draw on it in logical pixels.
    QPixmap& surface() { return surface_; }
    const QPixmap& surface() const { return surface_; }
    // A new white surface of the control's current size and ratio.
    void resizeSurface();
    void releaseSurface() { surface_ = QPixmap(); }

    // Schedules copying the surface to the screen.
    void paint() { update(); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Ends a press that the pointer dragged off the control.
    void releaseOutside();

    int id_ = -1;
    bool pressed_ = false;
    SkinCallback onPress_;
    SkinCallback onRelease_;
    SkinCallback onMove_;
    QPixmap surface_;
};

}  // namespace sonrigo
