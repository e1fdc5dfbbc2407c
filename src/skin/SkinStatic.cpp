#include "skin/SkinStatic.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <utility>

namespace sonrigo {
namespace {

// A callback may replace the control's callbacks while it runs (a handler
// that rebuilds its group): it runs from a copy, not from the member it
// would overwrite.
void Report(const SkinCallback& callback, int x, int y, int id)
{
    if (callback) {
        const SkinCallback copy = callback;
        copy(x, y, id);
    }
}

}  // namespace

SkinStatic::SkinStatic(QWidget* parent) : QWidget(parent) {}

void SkinStatic::setCallbacks(SkinCallback onPress, SkinCallback onRelease, SkinCallback onMove)
{
    onPress_ = std::move(onPress);
    onRelease_ = std::move(onRelease);
    onMove_ = std::move(onMove);
    setMouseTracking(static_cast<bool>(onMove_));
}

void SkinStatic::setUp(QRect rect, SkinCallback onPress, SkinCallback onRelease, SkinCallback onMove)
{
    setGeometry(rect);
    resizeSurface();
    setCallbacks(std::move(onPress), std::move(onRelease), std::move(onMove));
}

void SkinStatic::resizeSurface()
{
    const qreal ratio = devicePixelRatioF();
    surface_ = QPixmap(size() * ratio);
    surface_.setDevicePixelRatio(ratio);
    surface_.fill(Qt::white);
}

void SkinStatic::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    const QPoint at = event->position().toPoint();
    Report(onPress_, at.x(), at.y(), id_);
}

void SkinStatic::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (pressed_) {
        pressed_ = false;
        const QPoint at = event->position().toPoint();
        Report(onRelease_, at.x(), at.y(), id_);
    }
}

void SkinStatic::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    Report(onMove_, at.x(), at.y(), id_);
    // Qt keeps sending a held button's moves to the widget it was pressed on,
    // and no leave event until the button is up: leaving shows only here.
    if (pressed_ && !rect().contains(at)) {
        releaseOutside();
    }
}

void SkinStatic::leaveEvent(QEvent* event)
{
    if (pressed_) {
        releaseOutside();
    }
    QWidget::leaveEvent(event);
}

void SkinStatic::paintEvent(QPaintEvent* /*event*/)
{
    if (surface_.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, surface_);
}

void SkinStatic::releaseOutside()
{
    pressed_ = false;
    Report(onRelease_, -1, -1, id_);
}

}  // namespace sonrigo
