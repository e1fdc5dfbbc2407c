// The skinned controls driven with QTest's mouse events, and what their
// groups compose, read back from the surfaces.

#include <QEvent>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "skin/SkinBackground.h"
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

// The leftmost and rightmost columns where two compositions of the same
// control differ: the caption's extent.
std::pair<int, int> DifferentColumns(const QImage& a, const QImage& b)
{
    std::pair<int, int> extent{a.width(), -1};
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                extent = {std::min(extent.first, x), std::max(extent.second, x)};
    return extent;
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

    SkinHandler logAs(const std::string& what)
    {
        return [this, what](int index) { log.push_back(what + " " + std::to_string(index)); };
    }

    QWidget window;
    std::vector<std::unique_ptr<SkinStatic>> controls;
    std::vector<std::string> log;
};

TEST_F(SkinTest, PressAndReleaseInsideReportTheirPointsInOrder)
{
    SkinStatic* control = newControl();
    control->setGeometry(kSquare);
    control->setId(3);
    const auto record = [this](const char* what) {
        return [this, what](int x, int y, int id) {
            log.push_back(std::string(what) + " " + std::to_string(x) + "," + std::to_string(y) + " " +
                          std::to_string(id));
        };
    };
    control->setCallbacks(record("press"), record("release"), nullptr);
    QTest::mousePress(control, Qt::LeftButton, {}, QPoint(5, 6));
    EXPECT_TRUE(control->pressed());
    QTest::mouseRelease(control, Qt::LeftButton, {}, QPoint(7, 8));
    EXPECT_FALSE(control->pressed());
    EXPECT_EQ(log, (std::vector<std::string>{"press 5,6 3", "release 7,8 3"}));

    // Dragged off: one release at (-1, -1) the moment the pointer is out, and
    // nothing for coming back or for the button-up outside.
    log.clear();
    QTest::mousePress(control, Qt::LeftButton, {}, kInside);
    QTest::mouseMove(control, kOutside);
    QTest::mouseMove(control, kInside);
    QTest::mouseMove(control, kOutside);
    QTest::mouseRelease(control, Qt::LeftButton, {}, kOutside);
    EXPECT_EQ(log, (std::vector<std::string>{"press 16,16 3", "release -1,-1 3"}));

    // A leave event while pressed ends the press the same way.
    log.clear();
    QTest::mousePress(control, Qt::LeftButton, {}, kInside);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(control, &leave);
    QTest::mouseRelease(control, Qt::LeftButton, {}, kInside);
    EXPECT_EQ(log, (std::vector<std::string>{"press 16,16 3", "release -1,-1 3"}));
}

TEST_F(SkinTest, PushButtonDraggedOffAndBackRunsOnDownOnceAndEndsReleased)
{
    SkinButtonGroup group;
    SkinStatic* button = newControl();
    ASSERT_TRUE(group.create(logAs("down"), logAs("up"), button, kSquare, "", kSkinSquareGrey, kSkinSquareGreen, 0));
    QTest::mousePress(button, Qt::LeftButton, {}, kInside);
    QTest::mouseMove(button, kOutside);
    QTest::mouseMove(button, kInside);
    QTest::mouseRelease(button, Qt::LeftButton, {}, kInside);
    EXPECT_EQ(log, (std::vector<std::string>{"down 0", "up 0"}));
    EXPECT_EQ(Pixels(button->surface()), Pixels(SkinBitmap(kSkinSquareGrey, 1)));
}

TEST_F(SkinTest, SwitchPressedTwiceIsOffAgain)
{
    SkinSwitchGroup group;
    SkinStatic* other = newControl();
    SkinStatic* control = newControl();
    ASSERT_TRUE(group.create(logAs("down"), logAs("up"), other, kSquare, "", kSkinSquareGrey, kSkinSquareGreen, 0));
    ASSERT_TRUE(group.add(control, kSquare.translated(40, 0), "", kSkinSquareGrey, kSkinSquareGreen, 1));
    QTest::mouseClick(control, Qt::LeftButton, {}, kInside);
    EXPECT_TRUE(group.isOn(1));
    QTest::mouseClick(control, Qt::LeftButton, {}, kInside);
    EXPECT_FALSE(group.isOn(1));
    EXPECT_FALSE(group.isOn(0));
    EXPECT_EQ(log, (std::vector<std::string>{"down 1", "up 1", "down 1", "up 1"}));
}

TEST_F(SkinTest, PushButtonIsDrawnBeforeItsHandlerASwitchAfter)
{
    SkinButtonGroup buttons;
    SkinSwitchGroup switches;
    SkinStatic* button = newControl();
    SkinStatic* toggle = newControl();
    QImage seen;
    ASSERT_TRUE(buttons.create([&](int) { seen = Pixels(button->surface()); }, nullptr, button, kSquare, "", kSkinSquareGrey, kSkinSquareGreen, 0));
    ASSERT_TRUE(switches.create([&](int) { seen = Pixels(toggle->surface()); }, nullptr, toggle, kSquare, "",
                                kSkinSquareGrey, kSkinSquareGreen, 0));
    const QImage grey = Pixels(SkinBitmap(kSkinSquareGrey, 1));
    const QImage green = Pixels(SkinBitmap(kSkinSquareGreen, 1));

    QTest::mousePress(button, Qt::LeftButton, {}, kInside);
    EXPECT_EQ(seen, green);
    QTest::mouseRelease(button, Qt::LeftButton, {}, kInside);

    QTest::mousePress(toggle, Qt::LeftButton, {}, kInside);
    EXPECT_EQ(seen, grey);
    EXPECT_EQ(Pixels(toggle->surface()), green);
    QTest::mouseRelease(toggle, Qt::LeftButton, {}, kInside);
}

TEST_F(SkinTest, SetCaptionByIdChangesOnlyThatId)
{
    SkinButtonGroup group;
    SkinStatic* first = newControl();
    SkinStatic* second = newControl();
    ASSERT_TRUE(group.create(nullptr, nullptr, first, kSquare, "A", kSkinSquareGrey, kSkinSquareGreen, 0));
    ASSERT_TRUE(group.add(second, kSquare.translated(40, 0), "A", kSkinSquareGrey, kSkinSquareGreen, 1));
    const QImage before = Pixels(first->surface());
    group.setCaptionById(7, "B");
    EXPECT_EQ(Pixels(first->surface()), before);
    EXPECT_EQ(Pixels(second->surface()), before);
    group.setCaptionById(1, "B");
    EXPECT_EQ(Pixels(first->surface()), before);
    EXPECT_NE(Pixels(second->surface()), before);
}

TEST_F(SkinTest, CaptionKeepsItsLeadingBlanksAndIsCutAt210)
{
    SkinButtonGroup group;
    const QRect wide(0, 50, 300, 32);
    SkinStatic* plain = newControl();
    SkinStatic* bare = newControl();
    SkinStatic* indented = newControl();
    SkinStatic* longer = newControl();
    ASSERT_TRUE(group.create(nullptr, nullptr, plain, wide, "", 0, 0, 0));
    ASSERT_TRUE(group.add(bare, wide, "Play", 0, 0, 1));
    ASSERT_TRUE(group.add(indented, wide, "      Play", 0, 0, 2));
    ASSERT_TRUE(group.add(longer, wide, std::string(60, 'M'), 0, 0, 3));
    const QImage white = Pixels(plain->surface());

    const int bareLeft = DifferentColumns(Pixels(bare->surface()), white).first;
    EXPECT_LT(bareLeft, 6);
    EXPECT_GT(DifferentColumns(Pixels(indented->surface()), white).first, bareLeft + 10);
    const int rightmost = DifferentColumns(Pixels(longer->surface()), white).second;
    EXPECT_GE(rightmost, 200);
    EXPECT_LT(rightmost, 210);
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
    for (int i = 1; i < SkinControlGroup::kMaxControls; ++i) {
        ASSERT_TRUE(group->add(newControl(), kSquare, "", kSkinSquareGrey, kSkinSquareGreen, i));
    }
    EXPECT_FALSE(group->add(newControl(), kSquare, "", kSkinSquareGrey, kSkinSquareGreen, 64));
    group.reset();
    QTest::mouseClick(control, Qt::LeftButton, {}, kInside);
    EXPECT_TRUE(log.empty());
}

TEST_F(SkinTest, PictureIsDrawnAtTheControlsTopLeft)
{
    SkinBackground background;
    SkinStatic* control = newControl();
    ASSERT_TRUE(background.create(control, QRect(0, 0, 40, 40), kSkinSquareGreen));
    const QImage surface = Pixels(control->surface());
    EXPECT_EQ(surface.copy(0, 0, 32, 32), Pixels(SkinBitmap(kSkinSquareGreen, 1)));
    EXPECT_EQ(surface.pixel(36, 36), qRgb(255, 255, 255));
}

// Run by the gui.skin_at_ratio_2 test, with QT_SCALE_FACTOR=2.
TEST_F(SkinTest, AtRatio2TheSurfaceHasTwiceThePixels)
{
    SkinStatic* control = newControl();
    if (control->devicePixelRatioF() < 2) {
        GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    }
    SkinButtonGroup group;
    ASSERT_TRUE(group.create(nullptr, nullptr, control, kSquare, "", kSkinSquareGrey, kSkinSquareGreen, 0));
    EXPECT_EQ(control->surface().size(), QSize(64, 64));
    EXPECT_EQ(control->surface().devicePixelRatio(), 2.0);
    // The double-size drawing itself, not the small one enlarged.
    EXPECT_EQ(Pixels(control->surface()), Pixels(SkinBitmap(kSkinSquareGrey, 2)));
    EXPECT_EQ(SkinBitmap(kSkinSquareGrey, 2).size(), QSize(64, 64));
}

}  // namespace
}  // namespace sonrigo
