// The skinned controls driven with QTest's mouse events, and what their
// groups compose, read back from the surfaces. The background picture and a
// caption's leading blanks are checked on the real window (PlayerEndToEnd.cpp).

#include <QEvent>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "skin/SkinBitmaps.h"
#include "skin/SkinButtonGroup.h"
#include "skin/SkinStatic.h"
#include "skin/SkinSwitchGroup.h"

namespace sonrigo {
namespace {

const QRect kSquare(10, 10, 32, 32);
const QPoint kInside(16, 16);
const QPoint kOutside(48, 16);

QImage Pixels(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
}

class SkinTest : public testing::Test {
protected:
    void SetUp() override
    {
        window.resize(400, 100);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // A control of its own, composed by a group of its own, for comparing.
    SkinStatic* newControl()
    {
        controls.push_back(std::make_unique<SkinStatic>(&window));
        controls.back()->show();
        return controls.back().get();
    }

    // A handler that logs its call and what `control` shows at that moment.
    SkinHandler logAs(const std::string& what, SkinStatic* control = nullptr)
    {
        return [this, what, control](int index) {
            log.push_back(what + " " + std::to_string(index));
            if (control != nullptr)
                seen = Pixels(control->surface());
        };
    }

    QWidget window;
    std::vector<std::unique_ptr<SkinStatic>> controls;
    std::vector<std::string> log;
    QImage seen;
    const QImage grey = Pixels(SkinBitmap(kSkinSquareGrey, 1));
    const QImage green = Pixels(SkinBitmap(kSkinSquareGreen, 1));
};

// A push button shows its press before its handler runs. Dragged off, or
// left, while pressed, it runs on-up the moment the pointer is out, and ends
// released: nothing for coming back or for the button-up.
TEST_F(SkinTest, PushButtonIsDrawnBeforeItsHandlerAndDraggedOffOrLeftEndsReleased)
{
    SkinButtonGroup group;
    SkinStatic* button = newControl();
    ASSERT_TRUE(group.create(logAs("down", button), logAs("up"), button, kSquare, "", kSkinSquareGrey,
                             kSkinSquareGreen, 0));
    for (const bool leave : {false, true}) {
        log.clear();
        QTest::mousePress(button, Qt::LeftButton, {}, kInside);
        EXPECT_EQ(seen, green);
        if (leave) {
            QEvent left(QEvent::Leave);
            QCoreApplication::sendEvent(button, &left);
        } else {
            QTest::mouseMove(button, kOutside);
        }
        EXPECT_EQ(log, (std::vector<std::string>{"down 0", "up 0"})) << leave;
        QTest::mouseMove(button, kInside);
        QTest::mouseRelease(button, Qt::LeftButton, {}, kInside);
        EXPECT_EQ(log, (std::vector<std::string>{"down 0", "up 0"})) << leave;
        EXPECT_EQ(Pixels(button->surface()), grey);
    }
}

// A switch flips on its press, after its handler has run, and only itself.
TEST_F(SkinTest, SwitchIsDrawnAfterItsHandlerAndPressedTwiceIsOffAgain)
{
    SkinSwitchGroup group;
    SkinStatic* other = newControl();
    SkinStatic* control = newControl();
    ASSERT_TRUE(group.create(logAs("down", control), logAs("up"), other, kSquare, "", kSkinSquareGrey,
                             kSkinSquareGreen, 0));
    ASSERT_TRUE(group.add(control, kSquare.translated(40, 0), "", kSkinSquareGrey, kSkinSquareGreen, 1));
    QTest::mousePress(control, Qt::LeftButton, {}, kInside);
    EXPECT_EQ(seen, grey);
    EXPECT_EQ(Pixels(control->surface()), green);
    QTest::mouseRelease(control, Qt::LeftButton, {}, kInside);
    EXPECT_TRUE(group.isOn(1));
    QTest::mouseClick(control, Qt::LeftButton, {}, kInside);
    EXPECT_FALSE(group.isOn(1));
    EXPECT_FALSE(group.isOn(0));
    EXPECT_EQ(log, (std::vector<std::string>{"down 1", "up 1", "down 1", "up 1"}));
}

TEST_F(SkinTest, GroupEndedInItsHandlerOrGoneIgnoresItsControls)
{
    auto group = std::make_unique<SkinSwitchGroup>();
    SkinStatic* control = newControl();
    ASSERT_TRUE(group->create([&](int) { group->destroy(); }, nullptr, control, kSquare, "", kSkinSquareGrey,
                              kSkinSquareGreen, 0));
    QTest::mouseClick(control, Qt::LeftButton, {}, kInside);
    EXPECT_EQ(group->count(), 0);

    ASSERT_TRUE(group->create(logAs("down"), nullptr, control, kSquare, "", kSkinSquareGrey, kSkinSquareGreen, 0));
    group.reset();
    QTest::mouseClick(control, Qt::LeftButton, {}, kInside);
    EXPECT_TRUE(log.empty());
}

// Run by the gui.skin_at_ratio_2 test, with QT_SCALE_FACTOR=2: the
// double-size drawing itself, not the small one enlarged.
TEST_F(SkinTest, AtRatio2TheSurfaceHasTwiceThePixels)
{
    SkinStatic* control = newControl();
    if (control->devicePixelRatioF() < 2) {
        GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    }
    SkinButtonGroup group;
    ASSERT_TRUE(group.create(nullptr, nullptr, control, kSquare, "", kSkinSquareGrey, kSkinSquareGreen, 0));
    EXPECT_EQ(control->surface().devicePixelRatio(), 2.0);
    EXPECT_EQ(Pixels(control->surface()), Pixels(SkinBitmap(kSkinSquareGrey, 2)));
}

}  // namespace
}  // namespace sonrigo
