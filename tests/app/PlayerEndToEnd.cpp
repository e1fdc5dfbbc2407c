// The player end to end, driven as a user drives it: the real program's main
// with a script that clicks its buttons and fills its file dialogs, on a
// private X server, its sound going to a JACK server on the dummy driver and
// recorded there by this process.
//
//   sonrigo_player_e2e INSTRUMENT SONG ARTEFACTS CRASHING_INSTRUMENT
//
// The script looks at the window as it starts and at the About box its context
// menu opens; chooses INSTRUMENT for channel 1 and closes its editor, moves the
// row's spin, loads SONG (its lead on channel 1, program changes at its start
// on channels 1 and 3), plays it, stops it and ends the player with Ctrl+Q. It
// prints the screenshots it kept, and "FAILED: ..." for every check that
// fails, and the name of each step as it starts: where the run hangs, CTest's
// timeout ends it after the last. Exits with the program's status, or 1 when a
// check failed or a step took too long; 77 (skipped) where jackd does not come
// up.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/AboutDialog.h"
#include "app/ChannelState.h"
#include "app/MainApplication.h"
#include "app/MainDialog.h"
#include "app/ProgramSpin.h"
#include "skin/SkinStatic.h"
#include "support/JackTestServer.h"
#include "vsthost/EditorWindow.h"

namespace sonrigo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kRate = test::JackTestServer::kSampleRate;
// The whole run, from before the window shows.
constexpr std::size_t kCaptureFrames = 180 * test::JackTestServer::kSampleRate;
// A sample this loud is sound; a stretch whose peak stays under kSilence is
// silence (-60 dB: the 16-bit output's dither-free zero, with room for a
// reverb's last trace).
constexpr float kSound = 0.01F;
constexpr float kSilence = 0.001F;
// Every step ends within kStepLimit.
constexpr auto kStepLimit = 20s;
// Buttons by index, as the window numbers them.
constexpr int kLoadMidi = 1;
constexpr int kPlayStop = 2;
constexpr int kFirstVst = 23;

// The average colour of `box` in `image`, and how many of its pixels `counts`
// holds for.
QColor Average(const QImage& image, const QRect& box)
{
    return image.copy(box).scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
}

int Count(const QImage& image, const QRect& box, bool (*counts)(const QColor&))
{
    int n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            n += counts(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool Grey(const QColor& c)
{
    return std::abs(c.red() - c.green()) < 24 && std::abs(c.green() - c.blue()) < 24;
}

// Close to the captions' dark green, RGB(0, 100, 0).
bool CaptionGreen(const QColor& c)
{
    return c.red() < 70 && c.green() > 60 && c.green() < 150 && c.blue() < 70;
}

// The user: a list of steps, each an action and a condition that ends it,
// run from a timer on the user-interface thread. A click that opens a modal
// dialog is made from its own event, so that the timer goes on ticking in the
// dialog's loop.
class PlayerEndToEnd final : public QObject {
public:
    PlayerEndToEnd(MainDialog& dialog, test::JackAudioCapture& capture, char** paths, bool& passed)
        : QObject(&dialog), dialog_(dialog), capture_(capture), instrument_(paths[0]), song_(paths[1]),
          artefacts_(paths[2]), crasher_(paths[3]),
          crashText_("プラグインのロードに失敗しました。\n" + crasher_ +
                     " was tried in a process of its own and crashed (SIGSEGV) while it was being loaded. It is not "
                     "loaded."), passed_(passed)
    {
        buildSteps();
        qApp->installEventFilter(this);
        timer_.callOnTimeout(this, [this] { tick(); });
        timer_.start(20ms);
    }
    // The run passes where no check failed and the window ended in the last
    // step, not before it.
    ~PlayerEndToEnd() override
    {
        check(next_ + 1 == steps_.size(), std::string("the window closed in step \"") + steps_[next_].what + '"');
        passed_ = ok_;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && dialog_.stopping() && watched->isWidgetType() &&
            (watched == &dialog_ || dialog_.isAncestorOf(static_cast<QWidget*>(watched)))) {
            ++paintsWhileStopping_;
        }
        return false;
    }

private:
    struct Step {
        const char* what;
        std::function<void()> action;
        std::function<bool()> done;
        // The message the step makes the player show, which the user reads
        // and answers with OK; any other message fails the run. The step is
        // not done before it has been shown.
        const char* message = nullptr;
        bool said = false;
    };

    void check(bool ok, const std::string& what)
    {
        if (!ok) {
            std::fprintf(stderr, "FAILED: %s\n", what.c_str());
            ok_ = false;
        }
    }

    void fail(const std::string& what)
    {
        if (std::exchange(failing_, true))
            return;
        check(false, std::string("in step \"") + steps_[next_].what + "\": " + what);
        timer_.stop();
        // Out of whatever is open, then out of the window.
        auto* closer = new QTimer(this);
        closer->callOnTimeout(this, [this] {
            if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != &dialog_)
                modal->close();
            else
                dialog_.done(QDialog::Rejected);
        });
        closer->start(100ms);
    }

    void tick()
    {
        if (next_ >= steps_.size())
            return;
        Step& current = steps_[next_];
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            const std::string text = box->text().toStdString();
            if (current.message == nullptr || text != current.message || box->button(QMessageBox::Ok) == nullptr)
                return fail("the player said \"" + text + "\"");
            // Not on the screen yet: a picture now would show what lies behind it.
            if (box->windowHandle() == nullptr || !box->windowHandle()->isExposed())
                return;
            std::printf("message: %s\n", text.c_str());
            screenshot(box, ("message-" + std::to_string(next_) + ".png").c_str());
            current.said = true;
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            return;
        }
        if (!ok_)
            return fail("a check failed before it");
        if (!std::exchange(started_, true)) {
            std::fprintf(stderr, "step: %s\n", current.what);
            stepStart_ = Clock::now();
            if (current.action)
                current.action();
        }
        if (failing_)
            return;
        if ((current.message == nullptr || current.said) && current.done()) {
            started_ = false;
            if (++next_ == steps_.size())
                timer_.stop();
        } else if (Clock::now() - stepStart_ > kStepLimit) {
            fail("not done within 20 s");
        }
    }

    // A press of button `index` as its own event; `before` runs just ahead.
    void click(int index, std::function<void()> before = {})
    {
        QTimer::singleShot(0, this, [this, index, before] {
            if (before)
                before();
            QTest::mouseClick(dialog_.commandButton(index), Qt::LeftButton);
        });
    }

    static QFileDialog* fileDialog() { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); }

    // Types `path` into the open file dialog's name field and presses Enter,
    // as its own event: a box the dialog opens then leaves the steps running.
    void chooseInDialog(const std::string& path)
    {
        QFileDialog* chooser = fileDialog();
        auto* name = chooser != nullptr ? chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
        if (name == nullptr)
            return fail("no file-name field in the file dialog");
        name->setText(QString::fromStdString(path));
        QTimer::singleShot(0, name, [name] { QTest::keyClick(name, Qt::Key_Return); });
    }

    QString rowName(int row) const { return dialog_.programNameField(row)->text(); }
    QString rowNumber(int row) const { return dialog_.programNumberField(row)->text(); }

    QImage screenshot(QWidget* window, const char* name)
    {
        const QString path = QString::fromStdString(artefacts_ + '/' + name);
        const QImage image = QApplication::primaryScreen()->grabWindow(window->winId()).toImage();
        check(image.save(path), "screenshot saved as " + path.toStdString());
        std::printf("screenshot: %s (%d x %d)\n", path.toStdString().c_str(), image.width(), image.height());
        return image;
    }

    // What the layout puts where, at the start: the background picture
    // between the "All" buttons, row 1's channel switch lit and its "Fix"
    // switch dark, "  Load MIDI" drawn after its two blanks and from the left.
    void checkWindow(const QImage& image)
    {
        check(image.size() == QSize(MainDialog::kClientWidth, MainDialog::kClientHeight), "the window's size");
        const QColor panel = Average(image, QRect(60, 12, 160, 26));
        check(Grey(panel) && panel.lightness() > 80 && panel.lightness() < 240,
              "background above the rows is grey: " + panel.name().toStdString());
        const QColor lit = Average(image, QRect(30, 66, 9, 8));
        check(lit.green() > lit.red() + 40 && lit.green() > lit.blue() + 40,
              "channel switch 1 is lit: " + lit.name().toStdString());
        const QColor dark = Average(image, QRect(522, 66, 8, 8));
        check(Grey(dark), "Fix switch 1 is dark: " + dark.name().toStdString());
        check(Count(image, QRect(124, 654, 80, 24), CaptionGreen) > 20, "\"  Load MIDI\" caption drawn on its button");
        check(Count(image, QRect(215, 652, 18, 28), CaptionGreen) == 0,
              "nothing of the caption at the button's right end");
        check(Count(image, QRect(120, 652, 6, 28), CaptionGreen) == 0, "the caption starts after its two blanks");
    }

    // The About box: every character of its caption and of the menu's item
    // has a glyph in the window's font, and its text is drawn.
    void checkAbout(const QImage& image)
    {
        const QFontMetrics metrics(QApplication::font());
        for (const char* text : {AboutDialog::kCaption, MainDialog::kAboutItemText})
            for (const QChar ch : QString::fromUtf8(text))
                check(metrics.inFont(ch), "no glyph for U+" + QString::number(ch.unicode(), 16).toStdString() +
                                              " in " + QFontInfo(QApplication::font()).family().toStdString());
        // "SonrigoApp Version 1.0": dark pixels in its box.
        check(Count(image, QRect(70, 15, 208, 16), [](const QColor& c) { return c.lightness() < 100; }) > 30,
              "the About text is drawn");
    }

    // Index into the recording of JACK frame time `time` (wrapping).
    std::int64_t frameAt(jack_nframes_t time) const
    {
        return static_cast<std::int32_t>(time - capture_.firstFrameTime());
    }

    // The RMS, or with `peak` the peak, of recorded frames [from, from + count).
    double level(std::int64_t from, std::int64_t count, bool peak = false) const
    {
        double sum = 0.0, top = 0.0;
        for (std::int64_t f = std::max<std::int64_t>(from, 0); f < from + count; ++f) {
            const double sample = capture_.samples()[f];
            sum += sample * sample;
            top = std::max(top, std::fabs(sample));
        }
        return peak ? top : std::sqrt(sum / static_cast<double>(count));
    }

    bool recorded(std::int64_t until) const { return static_cast<std::int64_t>(capture_.frames()) >= until; }

    void buildSteps();

    MainDialog& dialog_;
    test::JackAudioCapture& capture_;
    const std::string instrument_;
    const std::string song_;
    const std::string artefacts_;
    const std::string crasher_;
    const std::string crashText_;
    bool& passed_;
    bool ok_ = true;
    QTimer timer_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool started_ = false;
    bool failing_ = false;
    Clock::time_point stepStart_;

    QString firstProgramName_;
    QPointer<EditorWindow> editor_;
    jack_nframes_t playPressed_ = 0;
    std::int64_t onset_ = -1;
    std::int64_t scanned_ = 0;
    jack_nframes_t stopPressed_ = 0;
    bool stopClicked_ = false;
    bool exposed_ = false;
    int paintsWhileStopping_ = 0;
};

void PlayerEndToEnd::buildSteps()
{
    const auto after = [this](std::chrono::milliseconds wait) { return Clock::now() - stepStart_ >= wait; };
    const auto step = [this](const char* what, std::function<void()> action, std::function<bool()> done,
                             const char* message = nullptr) {
        steps_.push_back({what, std::move(action), std::move(done), message});
    };

    step("the window as it starts", nullptr, [this, after] {
        if (!after(1000ms))
            return false;
        checkWindow(screenshot(&dialog_, "main-window.png"));
        return true;
    });
    // A right click on the background opens the menu with the About item.
    step("the context menu",
         [this] { QTest::mouseClick(dialog_.windowHandle(), Qt::RightButton, {}, QPoint(150, 25)); },
         [this] { return dialog_.contextMenu()->isVisible(); });
    step("its About item",
         [this] {
             QTimer::singleShot(0, this, [this] {
                 QMenu* menu = dialog_.contextMenu();
                 QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().value(0)).center());
             });
         },
         [] { return qobject_cast<AboutDialog*>(QApplication::activeModalWidget()) != nullptr; });
    step("the About box", nullptr, [this, after] {
        if (!after(500ms))
            return false;
        QWidget* about = QApplication::activeModalWidget();
        checkAbout(screenshot(about, "about-box.png"));
        about->close();
        return true;
    });
    // A library that crashes as it opens costs its row, not the player: its
    // trial in a process of its own says how it failed, and nothing loads.
    step("VST of row 2", [this] { click(kFirstVst + 1); }, [] { return fileDialog() != nullptr; });
    step("a library that crashes, in the file dialog", [this] { chooseInDialog(crasher_); },
         [this] { return QApplication::activeModalWidget() == nullptr && rowName(1).isEmpty(); }, crashText_.c_str());
    step("VST of row 1", [this] { click(kFirstVst); }, [] { return fileDialog() != nullptr; });
    step("the instrument in the file dialog", [this] { chooseInDialog(instrument_); }, [this] {
        editor_ = qobject_cast<EditorWindow*>(QApplication::activeModalWidget());
        return !editor_.isNull();
    });
    // The plug-in draws its editor on its own: it is given a moment.
    step("the instrument's editor", nullptr, [this, after] {
        if (!after(700ms))
            return false;
        if (editor_.isNull()) {
            fail("the editor closed by itself");
            return false;
        }
        screenshot(editor_, "editor.png");
        editor_->close();
        return true;
    });
    step("the row shows the instrument", nullptr, [this] {
        if (QApplication::activeModalWidget() != nullptr)
            return false;
        check(dialog_.outputNameField(0)->text() == QFileInfo(QString::fromStdString(instrument_)).fileName(),
              "row 1 shows the instrument's file name, not \"" + dialog_.outputNameField(0)->text().toStdString() + "\"");
        firstProgramName_ = rowName(0);
        check(!firstProgramName_.isEmpty() && rowNumber(0) == QLatin1String("1"),
              "row 1 shows the instrument's first program");
        return true;
    });
    // The instrument's choice reopened the sound device: the recording
    // listens to the new stream.
    step("record the player", nullptr, [this] { return capture_.connectFrom("Sonrigo"); });
    step("the recording listens", nullptr, [this] { return capture_.waitUntilConnected(0ms); });
    // Another program for the lead, which the song's own program change at
    // its start takes back.
    step("row 1's spin up to 5",
         [this] {
             for (int i = 0; i < 4; ++i)
                 QTest::keyClick(dialog_.programSpin(0), Qt::Key_Up);
         },
         [this] { return rowNumber(0) == QLatin1String("5") && rowName(0) != firstProgramName_; });
    step("Load MIDI", [this] { click(kLoadMidi); }, [] { return fileDialog() != nullptr; });
    // The song has no master volume of its own: the loader says so as it
    // gives it one.
    step("the song in the file dialog", [this] { chooseInDialog(song_); },
         [this] { return QApplication::activeModalWidget() == nullptr && dialog_.loader() != nullptr; },
         "There is no master volume! 127 has been set!");
    step("Play", [this] { click(kPlayStop, [this] { playPressed_ = capture_.frameTimeNow(); }); }, [this] {
        if (!dialog_.state()->isPlaying())
            return false;
        scanned_ = frameAt(playPressed_);
        return true;
    });
    step("the first sound", nullptr, [this] {
        const auto frames = static_cast<std::int64_t>(capture_.frames());
        for (; scanned_ < frames && onset_ < 0; ++scanned_)
            if (std::fabs(capture_.samples()[scanned_]) > kSound)
                onset_ = scanned_;
        return onset_ >= 0;
    });
    step("the song's program changes in the rows", nullptr, [this] {
        return rowName(0) == firstProgramName_ && rowNumber(0) == QLatin1String("1") &&
               rowName(2) == QLatin1String("Fingerd Electric Bass") && rowNumber(2) == QLatin1String("34");
    });
    step("a second of the song", nullptr, [this, after] {
        if (!after(1000ms) || !recorded(onset_ + static_cast<std::int64_t>(kRate)))
            return false;
        screenshot(&dialog_, "playing.png");
        check(level(onset_, static_cast<std::int64_t>(kRate)) > kSound, "the song is heard");
        return true;
    });
    step("Stop",
         [this] {
             click(kPlayStop, [this] {
                 stopPressed_ = capture_.frameTimeNow();
                 stopClicked_ = true;
             });
         },
         [this, after] {
             if (dialog_.stopping()) {
                 // What another window's passing would ask of it.
                 if (!exposed_ && after(300ms)) {
                     exposed_ = true;
                     dialog_.update();
                 }
                 return false;
             }
             return stopClicked_ && !dialog_.state()->isPlaying();
         });
    step("silence after Stop", nullptr, [this] {
        const std::int64_t from = frameAt(stopPressed_) + 2 * static_cast<std::int64_t>(kRate);
        const auto span = static_cast<std::int64_t>(0.3 * kRate);
        if (!recorded(from + span))
            return false;
        check(level(from, span, true) < kSilence, "silence 2 s after Stop");
        check(paintsWhileStopping_ > 0, "the window paints while it stops");
        check(!capture_.overflowed(), "the recording kept every frame");
        return true;
    });
    // Ctrl+Q is the power button: it ends the window, which takes the script
    // with it. Without a window manager the test gives the window the focus.
    step("the window active", [this] { dialog_.activateWindow(); }, [this] { return dialog_.isActiveWindow(); });
    step("Ctrl+Q", [this] { QTest::keyClick(&dialog_, Qt::Key_Q, Qt::ControlModifier); }, [] { return false; });
}

}  // namespace
}  // namespace sonrigo

int main(int argc, char** argv)
{
    using namespace sonrigo;
    // The player tries plug-ins with the program it runs in: this one.
    if (argc == 3 && std::strcmp(argv[1], MainApplication::kPluginTrialOption) == 0)
        return MainApplication::run(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: sonrigo_player_e2e INSTRUMENT SONG ARTEFACTS CRASHING_INSTRUMENT\n");
        return 2;
    }
    test::JackTestServer jack("sonrigo-e2e-capture", kCaptureFrames);
    if (!jack.up()) {
        std::printf("skipped: %s\n", jack.skipReason().c_str());
        return 77;
    }
    std::filesystem::create_directories(argv[3]);
    bool passed = false;
    // The program sees no arguments of its own: no song loads at start.
    int programArgc = 1;
    char* programArgv[] = {argv[0], nullptr};
    const int status = MainApplication::run(programArgc, programArgv, [&](MainDialog& dialog) {
        new PlayerEndToEnd(dialog, jack.capture(), argv + 1, passed);
    });
    std::printf("the player exited with status %d\n", status);
    return status != 0 ? status : passed ? 0 : 1;
}
