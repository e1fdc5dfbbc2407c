#pragma once

#include <QIcon>
#include <QPixmap>

namespace sonrigo {

// The window's bitmap resources by their numbers in the dialog's resources,
// so that the layout code can keep those numbers.
enum SkinBitmapId : int {
    kSkinBackground = 129,
    kSkinPowerNormal = 130,
    kSkinBottomButtonPressed = 131,
    kSkinBottomButtonNormal = 132,
    kSkinPowerPressed = 133,
    kSkinSquareGreen = 136,
    kSkinSquareGrey = 137,
};

// The program icon's resource number.
constexpr int kSkinIconId = 128;

// The skin bitmap with that number, drawn for a screen of that device pixel
// ratio: the double-size image above 1, with the pixmap's ratio set so that
// it measures its nominal size in logical pixels. A null pixmap for a number
// that is no skin bitmap (only the low 16 bits count, as for the
// dialog's resources). Needs a QGuiApplication; user-interface thread only.
QPixmap SkinBitmap(int bitmapId, qreal devicePixelRatio);

// The program icon at every size it is drawn at.
QIcon SkinIcon();

}  // namespace sonrigo
