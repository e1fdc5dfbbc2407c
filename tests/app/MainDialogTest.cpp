// The main window as a user meets it, under the offscreen platform: its
// start-up state, clicks and keys on its controls, and its shutdown. Play and
// Stop as heard, the window painting while it stops, and the song's program
// changes in the rows are the end-to-end test's (PlayerEndToEnd.cpp).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/MainDialog.h"
#include "app/ProgramSpin.h"
#include "common/ScopedMessageCapture.h"
#include "platform/FluidSoftSynth.h"
#include "platform/NullWaveOutService.h"
#include "platform/RecordingMidiOutput.h"
#include "platform/WaveOut.h"
#include "playback/MusicPlayer.h"
#include "skin/SkinBitmaps.h"
#include "skin/SkinButtonGroup.h"
#include "skin/SkinStatic.h"
#include "skin/SkinSwitchGroup.h"
#include "smf/MidiFileLoader.h"
#include "support/Gate.h"
#include "support/SmfBytes.h"
#include "support/TempDir.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

// What Play says of a song that sets no master volume, as the demo song.
constexpr const char* kNoMasterVolume = "There is no master volume! 127 has been set!";

class MainDialogTest : public ::testing::Test {
protected:
    MainDialogTest() : previousOutput_(CurrentMidiOutputSystem()), previousWave_(CurrentWaveOutService())
    {
        InstallWaveOutService(std::make_shared<NullWaveOutService>());
        start(output_);
    }
    ~MainDialogTest() override
    {
        dialog_.reset();
        InstallWaveOutService(previousWave_);
        InstallMidiOutputSystem(previousOutput_);
    }

    void start(std::shared_ptr<MidiOutputSystem> output, BackgroundSoftSynth::Maker makeSynth = {})
    {
        dialog_.reset();
        InstallMidiOutputSystem(std::move(output));
        dialog_ = std::make_unique<MainDialog>();
        if (makeSynth)
            dialog_->setSynthMaker(std::move(makeSynth));
        dialog_->startUp();
        dialog_->show();
    }

    void click(SkinStatic* control) { QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(5, 5)); }

    // Whether the Play/Stop button shows `caption`: it looks as a button
    // composed afresh with that caption does.
    bool playButtonShows(const std::string& caption)
    {
        SkinStatic control(dialog_.get());
        SkinButtonGroup group;
        group.create({}, {}, &control, dialog_->commandButton(2)->geometry(), caption, kSkinBottomButtonNormal,
                     kSkinBottomButtonPressed, 2);
        return control.surface().toImage() == dialog_->commandButton(2)->surface().toImage();
    }
    // The transport at rest, after a stop or the end of the song.
    void expectStopped()
    {
        EXPECT_TRUE(playButtonShows("      Play"));
        EXPECT_TRUE(dialog_->commandButton(1)->isEnabled());
        EXPECT_FALSE(dialog_->state()->isPlaying());
    }
    bool outputPlayedANote() const
    {
        for (const std::vector<std::uint8_t>& message : output_->messages())
            if ((message.front() & 0xF0) == 0x90)
                return true;
        return false;
    }

    ScopedMessageCapture messages_;
    std::shared_ptr<RecordingMidiOutput> output_ = std::make_shared<RecordingMidiOutput>();
    std::shared_ptr<MidiOutputSystem> previousOutput_;
    std::shared_ptr<WaveOutService> previousWave_;
    std::unique_ptr<MainDialog> dialog_;
};

TEST_F(MainDialogTest, StartsWithEveryRowOnTheMidiOutputAndTakesClicksAndKeys)
{
    MainDialog& dialog = *dialog_;
    EXPECT_FALSE(dialog.windowIcon().isNull());
    const std::string outputName = DefaultPortName(*output_);
    ASSERT_FALSE(outputName.empty());
    for (int row = 0; row < MainDialog::kRows; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(dialog.outputNameField(row)->text().toStdString(), outputName);
        EXPECT_EQ(dialog.programNameField(row)->text(),
                  row == 9 ? QStringLiteral("---") : QStringLiteral("Acoustic Grand Piano"));
        EXPECT_EQ(dialog.programNumberField(row)->text(), QStringLiteral("1"));
        EXPECT_TRUE(dialog.switchButtons().isOn(16 + row));
        EXPECT_FALSE(dialog.switchButtons().isOn(row));
    }
    ASSERT_NE(dialog.rack(), nullptr);
    EXPECT_TRUE(dialog.rack()->running());
    EXPECT_TRUE(messages_.take().empty());

    // A channel switch flips on its press.
    click(dialog.switchButton(16 + 3));
    EXPECT_FALSE(dialog.state()->channelNotesOn(3));
    EXPECT_FALSE(dialog.switchButtons().isOn(16 + 3));
    // The spin keeps to 1..128; the number field follows it and the name
    // follows the number.
    ProgramSpin* spin = dialog.programSpin(2);
    spin->setFocus();
    for (int step = 0; step < 13; ++step)
        QTest::keyClick(spin, Qt::Key_PageUp);
    EXPECT_EQ(dialog.programNumberField(2)->text(), QStringLiteral("128"));
    EXPECT_EQ(dialog.programNameField(2)->text(), QStringLiteral("Gun Shot"));
}

// Play and Stop from the button, and a second stop: a shutdown while it is
// under way ends the stop and its wait cursor too.
TEST_F(MainDialogTest, LoadsPlaysStopsAndLetsEverythingGoAtAShutdownDuringAStop)
{
    MainDialog& dialog = *dialog_;
    EXPECT_TRUE(dialog.loadSongFile(SONRIGO_DEMO_MIDI));
    // A file that is no song leaves none, after the loader's message.
    EXPECT_FALSE(dialog.loadSongFile(SONRIGO_NOT_MIDI));
    EXPECT_EQ(dialog.loader(), nullptr);
    EXPECT_FALSE(messages_.take().empty());

    // A song dropped on the window loads, unless one plays.
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(QStringLiteral(SONRIGO_DEMO_MIDI))});
    const auto dropOnWindow = [&] {
        QDragEnterEvent enter(QPoint(300, 25), Qt::CopyAction, &drop, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&dialog, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(300, 25), Qt::CopyAction, &drop, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&dialog, &dropped);
        QCoreApplication::processEvents();
        return dialog.loader() != nullptr;
    };
    dialog.state()->setPlaying(true);
    EXPECT_FALSE(dropOnWindow());
    dialog.state()->setPlaying(false);
    EXPECT_TRUE(dropOnWindow());
    ASSERT_NE(dialog.loader()->playable(), nullptr);

    click(dialog.commandButton(2));
    EXPECT_TRUE(playButtonShows("      Stop"));
    EXPECT_FALSE(dialog.commandButton(1)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return outputPlayedANote(); }, 5000));
    click(dialog.commandButton(2));
    ASSERT_TRUE(dialog.stopping());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);  // the wait cursor
    click(dialog.commandButton(2));  // finds it stopping: no new start, no second stop
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.stopping(); }, 15000));
    expectStopped();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(MusicPlayer::instance().idle());
    EXPECT_EQ(output_->openRequests().size(), 1u);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{kNoMasterVolume});

    click(dialog.commandButton(2));
    click(dialog.commandButton(2));
    ASSERT_TRUE(dialog.stopping());
    dialog.shutdown();
    EXPECT_FALSE(dialog.stopping());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(dialog.rack(), nullptr);
    EXPECT_FALSE(dialog.state()->isReady());
    EXPECT_FALSE(dialog.isVisible());
    dialog.shutdown();
    EXPECT_FALSE(dialog.loadSongFile(SONRIGO_DEMO_MIDI));
    messages_.take();
}

// A song's own end puts the transport back without a click (a playback whose
// MIDI output does not open ends the same way: NoMidiDeviceTest).
TEST_F(MainDialogTest, ASongThatEndsPutsTheTransportBack)
{
    // One eighth note at 120 beats a minute.
    using test::Ev;
    const test::TempDir dir;
    ASSERT_TRUE(dialog_->loadSongFile(dir.write(
        "short.mid", test::Smf(0, 1, 96, {{Ev(0, {0x90, 60, 100}), Ev(48, {0x80, 60, 0}), Ev(0, {0xFF, 0x2F, 0})}}))));
    click(dialog_->commandButton(2));
    EXPECT_TRUE(playButtonShows("      Stop"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog_->state()->isPlaying(); }, 10000));
    expectStopped();
    EXPECT_TRUE(outputPlayedANote());
    EXPECT_EQ(messages_.take(), std::vector<std::string>{});
}

// A machine without a MIDI port: the built-in synth is a stand-in whose
// making waits until the test lets it go (or the window gives it up).
class MainDialogSynthLoadTest : public MainDialogTest {
protected:
    class StandInSynth final : public SoftSynth {
    public:
        explicit StandInSynth(std::atomic<bool>& heardANote) : heardANote_(heardANote) {}
        void send(std::span<const std::uint8_t> message) override
        {
            heardANote_ = heardANote_ || (message.size() == 3 && (message[0] & 0xF0) == 0x90 && message[2] != 0);
        }
        void render(float* left, float* right, std::size_t frames) override
        {
            std::fill_n(left, frames, 0.0F);
            std::fill_n(right, frames, 0.0F);
        }

    private:
        std::atomic<bool>& heardANote_;
    };

    MainDialogSynthLoadTest()
    {
        RecordingMidiOutputOptions portless;
        portless.portCount = 0;
        start(std::make_shared<RecordingMidiOutput>(portless),
              [this](std::stop_token stop, std::string& error) -> std::unique_ptr<SoftSynth> {
                  const auto until = std::chrono::steady_clock::now() + test::Gate::kPatience;
                  while (!released_ && !stop.stop_requested() && std::chrono::steady_clock::now() < until)
                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  if (!released_) {
                      givenUp_ = stop.stop_requested();
                      error = "held back";
                      return nullptr;
                  }
                  return std::make_unique<StandInSynth>(heardANote_);
              });
        EXPECT_TRUE(dialog_->loadSongFile(SONRIGO_DEMO_MIDI));
        click(dialog_->commandButton(2));
    }

    std::atomic<bool> released_{false};
    std::atomic<bool> givenUp_{false};
    std::atomic<bool> heardANote_{false};
};

TEST_F(MainDialogSynthLoadTest, PlayPressedWhileTheSynthLoadsStartsTheSongOnceItIsIn)
{
    MainDialog& dialog = *dialog_;
    for (int row = 0; row < MainDialog::kRows; ++row)
        EXPECT_EQ(dialog.outputNameField(row)->text().toStdString(), FluidSoftSynth::kName);
    EXPECT_TRUE(dialog.playWaitsForSynth());
    EXPECT_FALSE(dialog.state()->isPlaying());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);  // the wait cursor
    bool answeredWhileWaiting = false;
    QMetaObject::invokeMethod(
        &dialog, [&] { answeredWhileWaiting = dialog.playWaitsForSynth(); }, Qt::QueuedConnection);
    EXPECT_TRUE(QTest::qWaitFor([&] { return answeredWhileWaiting; }, 1000));
    click(dialog.commandButton(2));  // still waiting: no second start

    released_ = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return heardANote_.load(); }, 10000));
    EXPECT_TRUE(dialog.state()->isPlaying());
    EXPECT_TRUE(playButtonShows("      Stop"));
    EXPECT_FALSE(dialog.playWaitsForSynth());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{kNoMasterVolume});
}

TEST_F(MainDialogSynthLoadTest, AShutdownWhileTheSynthLoadsGivesTheLoadUp)
{
    ASSERT_TRUE(dialog_->playWaitsForSynth());
    dialog_->shutdown();
    EXPECT_TRUE(givenUp_);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    QCoreApplication::processEvents();  // the load's end, which nobody is told of now
    EXPECT_EQ(messages_.take(), std::vector<std::string>{kNoMasterVolume});
}

}  // namespace
}  // namespace sonrigo
