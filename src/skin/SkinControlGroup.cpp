#include "skin/SkinControlGroup.h"

#include <QColor>
#include <QPainter>
#include <QString>

#include <utility>

#include "skin/SkinBitmaps.h"
#include "skin/SkinStatic.h"

namespace sonrigo {
namespace {

// The caption box of the window's controls, right and bottom edges excluded.
const QRect kCaptionBox(QPoint(2, 2), QPoint(209, 27));
const QColor kCaptionEnabled(0, 100, 0);
const QColor kCaptionDisabled(100, 100, 50);

}  // namespace

SkinControlGroup::~SkinControlGroup()
{
    destroy();
}

bool SkinControlGroup::create(SkinHandler onDown, SkinHandler onUp, SkinStatic* control, QRect rect,
                              const std::string& caption, int normalBitmapId, int pressedBitmapId, int index)
{
    destroy();
    onDown_ = std::move(onDown);
    onUp_ = std::move(onUp);
    return add(control, rect, caption, normalBitmapId, pressedBitmapId, index);
}

bool SkinControlGroup::add(SkinStatic* control, QRect rect, const std::string& caption, int normalBitmapId,
                           int pressedBitmapId, int index)
{
    if (control == nullptr || count() >= kMaxControls) {
        return false;
    }
    const int slot = count();
    control->setUp(
        rect, [this, slot](int, int, int) { onPress(slot); }, [this, slot](int, int, int) { onRelease(slot); },
        nullptr);
    control->setId(index);
    const qreal ratio = control->devicePixelRatioF();
    controls_.push_back(Control{control, SkinBitmap(normalBitmapId, ratio), SkinBitmap(pressedBitmapId, ratio),
                                caption, 0});
    compose(slot);
    return true;
}

void SkinControlGroup::paintAll()
{
    for (const Control& control : controls_) {
        if (control.widget) {
            control.widget->paint();
        }
    }
}

void SkinControlGroup::destroy()
{
    for (const Control& control : controls_) {
        if (control.widget) {
            control.widget->setCallbacks(nullptr, nullptr, nullptr);
            control.widget->releaseSurface();
        }
    }
    controls_.clear();
}

SkinControlGroup::Control* SkinControlGroup::controlAt(int slot)
{
    if (slot < 0 || slot >= count() || !controls_[slot].widget) {
        return nullptr;
    }
    return &controls_[slot];
}

SkinControlGroup::Control* SkinControlGroup::reactingControlAt(int slot)
{
    Control* control = controlAt(slot);
    return control != nullptr && control->widget->id() != -1 ? control : nullptr;
}

void SkinControlGroup::compose(int slot)
{
    Control* control = controlAt(slot);
    if (control == nullptr || control->widget->surface().isNull()) {
        return;
    }
    SkinStatic& widget = *control->widget;
    QPainter painter(&widget.surface());
    const QRect whole(QPoint(0, 0), widget.size());
    painter.fillRect(whole, Qt::white);
    painter.drawPixmap(0, 0, control->state != 0 ? control->pressed : control->normal);
    if (control->caption.empty()) {
        return;
    }
    painter.setFont(widget.font());
    painter.setPen(widget.isEnabled() ? kCaptionEnabled : kCaptionDisabled);
    painter.drawText(kCaptionBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QString::fromStdString(control->caption));
}

void SkinControlGroup::composeAndPaint(int slot)
{
    compose(slot);
    if (Control* control = controlAt(slot)) {
        control->widget->paint();
    }
}

void SkinControlGroup::runHandler(const SkinHandler& handler, int slot)
{
    const Control* control = controlAt(slot);
    if (control == nullptr || !handler) {
        return;
    }
    const SkinHandler copy = handler;
    copy(control->widget->id());
}

}  // namespace sonrigo
