#include "skin/SkinBackground.h"

#include <QPainter>

#include "skin/SkinBitmaps.h"
#include "skin/SkinStatic.h"

namespace sonrigo {

SkinBackground::~SkinBackground()
{
    destroy();
}

bool SkinBackground::create(SkinStatic* control, QRect rect, int bitmapId)
{
    destroy();
    return add(control, rect, bitmapId);
}

bool SkinBackground::add(SkinStatic* control, QRect rect, int bitmapId)
{
    if (control == nullptr || count_ >= kMaxPictures) {
        return false;
    }
    // A picture takes clicks and does nothing with them.
    const SkinCallback ignore = [](int, int, int) {};
    control->setUp(rect, ignore, ignore, nullptr);
    Picture& picture = pictures_[count_];
    picture.control = control;
    picture.bitmap = SkinBitmap(bitmapId, control->devicePixelRatioF());
    compose(picture);
    ++count_;
    return true;
}

void SkinBackground::paintAll()
{
    for (int i = 0; i < count_; ++i) {
        if (pictures_[i].control) {
            pictures_[i].control->paint();
        }
    }
}

void SkinBackground::destroy()
{
    for (int i = 0; i < count_; ++i) {
        if (pictures_[i].control) {
            pictures_[i].control->setCallbacks(nullptr, nullptr, nullptr);
            pictures_[i].control->releaseSurface();
        }
        pictures_[i] = Picture{};
    }
    count_ = 0;
}

void SkinBackground::compose(const Picture& picture)
{
    if (picture.bitmap.isNull()) {
        return;
    }
    QPainter painter(&picture.control->surface());
    painter.drawPixmap(0, 0, picture.bitmap);
}

}  // namespace sonrigo
