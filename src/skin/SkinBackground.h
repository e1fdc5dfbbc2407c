#pragma once

#include <QPixmap>
#include <QPointer>
#include <QRect>

#include <array>

namespace sonrigo {

class SkinStatic;

// Plain pictures on skinned controls, such as the window's background: each
// picture is composed once into its control's surface, its top-left corner at
// the control's top-left corner; clicks on it do nothing.
//
// Borrows the controls (their parent owns them; one deleted before the group
// is skipped). User-interface thread only.
class SkinBackground {
public:
    static constexpr int kMaxPictures = 4;

    SkinBackground() = default;
    ~SkinBackground();
    SkinBackground(const SkinBackground&) = delete;
    SkinBackground& operator=(const SkinBackground&) = delete;

    // Starts the group afresh with this picture.
    bool create(SkinStatic* control, QRect rect, int bitmapId);
    // Sets the control up at rect (in its parent's coordinates) and composes
    // the picture into it. False, and nothing changed, for a null control or
    // a fifth picture. An unknown bitmap number leaves the surface white.
    bool add(SkinStatic* control, QRect rect, int bitmapId);
    void paintAll();
    // Releases the surfaces and lets the controls go.
    void destroy();

    int count() const { return count_; }

private:
    struct Picture {
        QPointer<SkinStatic> control;
        QPixmap bitmap;
    };

    void compose(const Picture& picture);

    std::array<Picture, kMaxPictures> pictures_;
    int count_ = 0;
};

}  // namespace sonrigo
