#include "skin/SkinBitmaps.h"

#include <QString>

namespace sonrigo {
namespace {

// The file names under the /skin resource prefix, as tools/make-skin writes them.
const char* FileName(int bitmapId)
{
    switch (bitmapId & 0xFFFF) {
    case kSkinBackground: return "background";
    case kSkinPowerNormal: return "power";
    case kSkinBottomButtonPressed: return "button-pressed";
    case kSkinBottomButtonNormal: return "button";
    case kSkinPowerPressed: return "power-pressed";
    case kSkinSquareGreen: return "square-green";
    case kSkinSquareGrey: return "square-grey";
    default: return nullptr;
    }
}

}  // namespace

QPixmap SkinBitmap(int bitmapId, qreal devicePixelRatio)
{
    const char* name = FileName(bitmapId);
    if (name == nullptr) {
        return {};
    }
    const bool dense = devicePixelRatio > 1.0;
    QPixmap pixmap(QStringLiteral(":/skin/%1%2.png").arg(QLatin1String(name), dense ? "@2x" : ""));
    pixmap.setDevicePixelRatio(dense ? 2.0 : 1.0);
    return pixmap;
}

QIcon SkinIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/sonrigo.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace sonrigo
