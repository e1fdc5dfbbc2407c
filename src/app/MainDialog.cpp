#include "app/MainDialog.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>

#include <chrono>
#include <span>
#include <thread>
#include <utility>

#include <QApplication>
#include <QCursor>

#include "app/AboutDialog.h"
#include "app/PlaybackMailbox.h"
#include "app/PluginFolders.h"
#include "app/SongEventRouter.h"
#include "common/FileChooser.h"
#include "common/FileName.h"
#include "platform/UiThreadWake.h"
#include "vsthost/ChannelRouter.h"
#include "app/HelpWindow.h"
#include "app/ProgramSpin.h"
#include "app/QtRackWindow.h"
#include "app/RackPrograms.h"
#include "common/MessageSink.h"
#include "platform/FluidSoftSynth.h"
#include "platform/MidiOutput.h"
#include "playback/MusicPlayer.h"
#include "skin/SkinBackground.h"
#include "skin/SkinBitmaps.h"
#include "skin/SkinButtonGroup.h"
#include "skin/SkinStatic.h"
#include "skin/SkinSwitchGroup.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiEvent.h"
#include "vsthost/BuiltInSynthOutput.h"
#include "vsthost/VstRack.h"

namespace sonrigo {

const char* const MainDialog::kAboutItemText = "SonrigoApp のﾊﾞｰｼﾞｮﾝ情報(&A)...";

namespace {

// Bitmaps of the skin.
constexpr int kBackgroundBitmap = kSkinBackground;
constexpr int kPowerNormal = kSkinPowerNormal;
constexpr int kPowerPressed = kSkinPowerPressed;
constexpr int kBottomPressed = kSkinBottomButtonPressed;
constexpr int kBottomNormal = kSkinBottomButtonNormal;
constexpr int kLit = kSkinSquareGreen;
constexpr int kDark = kSkinSquareGrey;

// Push buttons and switches by index.
constexpr int kPowerButton = 0;
constexpr int kLoadButton = 1;
constexpr int kPlayButton = 2;
constexpr int kHelpButton = 3;
constexpr int kAllChannelsButton = 4;
constexpr int kAllInternalButton = 5;
constexpr int kFirstInternalButton = 6;
constexpr int kAllInstrumentsButton = 22;
constexpr int kFirstInstrumentButton = 23;
constexpr int kAllFixedButton = 39;
constexpr int kCommandCount = 40;
constexpr int kFirstChannelSwitch = 16;
constexpr int kSwitchCount = 32;

// How long the shutdown lets the instruments' own threads settle after they
// are unloaded, before the rack's memory goes.
constexpr auto kUnloadSettle = std::chrono::milliseconds(2000);
// How long the shutdown waits for a song that still plays to stop.
constexpr auto kStopWait = std::chrono::milliseconds(3000);
// Stop: after the song's own stop, the play controller is watched this often
// until it is idle (at most kIdleWait), then the last notes get this long.
constexpr auto kIdlePoll = std::chrono::milliseconds(100);
constexpr auto kIdleWait = std::chrono::milliseconds(5000);
constexpr auto kAfterStop = std::chrono::milliseconds(1000);
// The value the "All" instrument command gives every instance's parameter 0:
// the single-precision number nearest to 1/3.
constexpr float kAllInstrumentsParameter = 0.33333334f;
constexpr const char* kLoadCaption = "  Load MIDI";
constexpr const char* kPlayCaption = "      Play";
constexpr const char* kStopCaption = "      Stop";

// Rows start at y = 45 and are 35 pixels apart, 32 high.
constexpr int RowTop(int row)
{
    return 45 + 35 * row;
}

QRect Square(int x, int y)
{
    return {x, y, 32, 32};
}

QRect BottomButton(int x)
{
    return {x, 650, 115, 32};
}

bool IsSongFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("mid") || suffix == QLatin1String("midi") || suffix == QLatin1String("kar");
}

}  // namespace

MainDialog::MainDialog(QWidget* parent)
    : QDialog(parent),
      state_(std::make_shared<ChannelState>()),
      rows_(*state_, *this),
      dispatcher_(*this, rows_)
{
    setWindowTitle(QStringLiteral("Sonrigo"));
    setWindowIcon(SkinIcon());
    setAcceptDrops(true);
    buildControls();
    state_->setReady(false);
}

MainDialog::~MainDialog()
{
    shutdown();
}

void MainDialog::buildControls()
{
    // The background first, so that every other control lies above it.
    backgroundControl_ = new SkinStatic(this);
    for (SkinStatic*& control : switchControls_)
        control = new SkinStatic(this);
    for (SkinStatic*& control : commandControls_)
        control = new SkinStatic(this);
    for (int row = 0; row < kRows; ++row) {
        const auto r = static_cast<std::size_t>(row);
        outputNames_[r] = new QLabel(QStringLiteral("---"), this);
        outputNames_[r]->setAlignment(Qt::AlignCenter);
        outputNames_[r]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        programNames_[r] = new QLineEdit(this);
        programNames_[r]->setReadOnly(true);
        programNames_[r]->setFocusPolicy(Qt::NoFocus);
        programNumbers_[r] = new QLineEdit(this);
        programNumbers_[r]->setFocusPolicy(Qt::NoFocus);
        programNumbers_[r]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        spins_[r] = new ProgramSpin(programNumbers_[r], this);
        connect(programNumbers_[r], &QLineEdit::textChanged, this,
                [this, row] { rows_.onProgramNumberChanged(row); });
    }

    contextMenu_ = new QMenu(this);
    contextMenu_->addAction(QString::fromUtf8(kAboutItemText), this, &MainDialog::showAbout);

    const auto shortcut = [this](const QKeySequence& keys, int command) {
        auto* key = new QShortcut(keys, this);
        connect(key, &QShortcut::activated, this, [this, command] { runCommand(command); });
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), kLoadButton);
    shortcut(QKeySequence(Qt::Key_Space), kPlayButton);
    shortcut(QKeySequence(Qt::Key_MediaPlay), kPlayButton);
    shortcut(QKeySequence(Qt::Key_MediaTogglePlayPause), kPlayButton);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), kPowerButton);
    auto* stopKey = new QShortcut(QKeySequence(Qt::Key_MediaStop), this);
    connect(stopKey, &QShortcut::activated, this, [this] {
        if (state_->isPlaying())
            runCommand(kPlayButton);
    });
}

void MainDialog::createSkin()
{
    background_ = std::make_unique<SkinBackground>();
    background_->create(backgroundControl_, QRect(0, 0, kClientWidth, kClientHeight), kBackgroundBitmap);

    const auto onSwitch = [this](int index) { rows_.onSwitchButton(index); };
    const auto nothing = [](int) {};
    switchButtons_ = std::make_unique<SkinSwitchGroup>();
    for (int row = 0; row < kRows; ++row) {
        const QRect rect = Square(500, RowTop(row));
        if (row == 0)
            switchButtons_->create(onSwitch, nothing, switchControls_[0], rect, "Fix", kDark, kLit, 0);
        else
            switchButtons_->add(switchControls_[static_cast<std::size_t>(row)], rect, "Fix", kDark, kLit, row);
    }
    for (int row = 0; row < kRows; ++row) {
        const int index = kFirstChannelSwitch + row;
        switchButtons_->add(switchControls_[static_cast<std::size_t>(index)], Square(10, RowTop(row)),
                            " " + std::to_string(row + 1), kDark, kLit, index);
    }

    commandButtons_ = std::make_unique<SkinButtonGroup>();
    const auto addCommand = [this](int index, const QRect& rect, const std::string& caption, int normal,
                                   int pressed) {
        commandButtons_->add(commandControls_[static_cast<std::size_t>(index)], rect, caption, normal, pressed,
                             index);
    };
    commandButtons_->create([this](int index) { onCommandButton(index); }, nothing,
                            commandControls_[kPowerButton], QRect(10, 620, 60, 60), "", kPowerNormal,
                            kPowerPressed, kPowerButton);
    addCommand(kLoadButton, BottomButton(120), kLoadCaption, kBottomNormal, kBottomPressed);
    addCommand(kPlayButton, BottomButton(250), kPlayCaption, kBottomNormal, kBottomPressed);
    addCommand(kHelpButton, BottomButton(400), "  Help", kBottomNormal, kBottomPressed);
    addCommand(kAllChannelsButton, Square(10, 10), "All", kDark, kLit);
    addCommand(kAllInternalButton, Square(240, 10), "All", kDark, kLit);
    for (int row = 0; row < kRows; ++row)
        addCommand(kFirstInternalButton + row, Square(240, RowTop(row)), "Itnl", kDark, kLit);
    addCommand(kAllInstrumentsButton, Square(280, 10), "All", kDark, kLit);
    for (int row = 0; row < kRows; ++row)
        addCommand(kFirstInstrumentButton + row, Square(280, RowTop(row)), "VST", kDark, kLit);
    addCommand(kAllFixedButton, Square(500, 10), "All", kDark, kLit);
}

void MainDialog::startUp()
{
    if (started_)
        return;
    started_ = true;
    setFixedSize(kClientWidth, kClientHeight);
    createSkin();

    // The MIDI output's name. Where the machine has no MIDI port, the
    // built-in synth plays what no instrument takes: the rows show its name
    // at once, while its SoundFont loads beside the window.
    std::string outputName = DefaultPortName(*CurrentMidiOutputSystem());
    const bool builtInSynth = outputName.empty();
    if (builtInSynth)
        outputName = FluidSoftSynth::kName;
    rows_.setMidiOutName(outputName);
    rows_.startUp();

    state_->setPlaying(false);
    loader_.reset();
    for (int row = 0; row < kRows; ++row)
        state_->setInstrumentPath(row, {});

    rackWindow_ = std::make_unique<QtRackWindow>(this);
    rack_ = std::make_unique<VstRack>(rackWindow_.get());
    rackWindow_->attach(rack_.get());
    rackPrograms_ = std::make_unique<RackPrograms>(*rack_);
    rack_->setGain(1.0);
    if (builtInSynth) {
        if (!makeSynth_)
            makeSynth_ = [](std::stop_token stop, std::string& error) -> std::unique_ptr<SoftSynth> {
                return FluidSoftSynth::Create(FluidSoftSynth::DefaultSoundFont(), VstRack::kSampleRate, error,
                                              std::move(stop));
            };
        auto* synthWake = new UiThreadWake([this] { takeSynth(); }, this);
        synth_ = std::make_shared<BackgroundSoftSynth>(makeSynth_, synthWake->waker());
        rack_->setSoftSynth(synth_);
        systemOutput_ = CurrentMidiOutputSystem();
        InstallMidiOutputSystem(
            std::make_shared<BuiltInSynthOutput>(systemOutput_, *rack_, FluidSoftSynth::kName));
    }
    rack_->start();
    rows_.setRack(rackPrograms_.get());

    instruments_ = std::make_unique<ChannelRouter>(*rack_);
    mailbox_ = std::make_shared<PlaybackMailbox>();
    wake_ = new UiThreadWake([this] { takeMailbox(); }, this);
    mailbox_->setWake(wake_->waker());
    songRouter_ = std::make_shared<SongEventRouter>(state_, *instruments_, *rackPrograms_, mailbox_);

    state_->setReady(true);

    for (int row = 0; row < kRows; ++row) {
        const auto r = static_cast<std::size_t>(row);
        const int y = RowTop(row);
        outputNames_[r]->setGeometry(50, y, 180, 32);
        programNames_[r]->setGeometry(320, y, 110, 32);
        programNumbers_[r]->setGeometry(440, y, 30, 32);
        spins_[r]->setGeometry(470, y, 20, 32);
    }
}

void MainDialog::shutdown()
{
    if (shutDown_ || !started_)
        return;
    shutDown_ = true;
    hide();
    // A stop still under way ends here: the window no longer takes its news.
    joinStopper();
    if (std::exchange(stopping_, false))
        QApplication::restoreOverrideCursor();
    if (std::exchange(playWaitsForSynth_, false))
        QApplication::restoreOverrideCursor();
    // A SoundFont still loading is given up.
    if (synth_)
        synth_->abandon();
    // A song that still plays is stopped first: its callbacks read the rack
    // and the song. Then the instruments let go of their notes.
    MusicPlayer& player = MusicPlayer::instance();
    if (!player.idle()) {
        player.stopPlayback();
        const auto until = std::chrono::steady_clock::now() + kStopWait;
        while (!player.idle() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (player.idle() && instruments_)
        instruments_->releaseNotes();
    state_->setPlaying(false);
    state_->setReady(false);
    rows_.setRack(nullptr);
    if (rack_) {
        const bool hadInstruments = rack_->pluginCount() > 0;
        rack_->stop();
        // The MIDI output is handed back and the window lets go of the rack
        // before any instrument is closed: a plug-in that ends the process
        // in its close still finds the rest shut down.
        if (systemOutput_)
            InstallMidiOutputSystem(std::exchange(systemOutput_, nullptr));
        rackWindow_->attach(nullptr);
        for (int slot = 0; slot < VstRack::kSlotCount; ++slot)
            rack_->suspendPlugin(slot);
        rack_->removeAllPlugins();
        if (hadInstruments)
            std::this_thread::sleep_for(kUnloadSettle);
        // A worker given up on still holds callbacks into the rack and what
        // routes to it: they stay.
        if (player.idle()) {
            songRouter_.reset();
            instruments_.reset();
            rackPrograms_.reset();
            rack_.reset();
            synth_.reset();
        } else {
            static_cast<void>(instruments_.release());
            static_cast<void>(rackPrograms_.release());
            static_cast<void>(rack_.release());
        }
    }
    loader_.reset();
    if (background_)
        background_->destroy();
    if (commandButtons_)
        commandButtons_->destroy();
    if (switchButtons_)
        switchButtons_->destroy();
}

SkinStatic* MainDialog::commandButton(int index) const
{
    return index >= 0 && index < kCommandCount ? commandControls_[static_cast<std::size_t>(index)] : nullptr;
}

SkinStatic* MainDialog::switchButton(int index) const
{
    return index >= 0 && index < kSwitchCount ? switchControls_[static_cast<std::size_t>(index)] : nullptr;
}

void MainDialog::showAbout()
{
    AboutDialog about(this);
    about.exec();
}

void MainDialog::runCommand(int index)
{
    // Keys act as their buttons do: not while the button is disabled.
    if (SkinStatic* button = commandButton(index); button != nullptr && button->isEnabled())
        onCommandButton(index);
}

void MainDialog::onCommandButton(int index)
{
    dispatcher_.onCommandButton(index);
    syncInstrumentRoutes();
}

void MainDialog::syncInstrumentRoutes()
{
    if (!instruments_)
        return;
    for (int row = 0; row < kRows; ++row)
        instruments_->setRouted(row, state_->channelRoute(row) == RouteInstrument);
}

bool MainDialog::acceptsSongNow() const
{
    return started_ && !shutDown_ && !state_->isPlaying() && !playWaitsForSynth_ &&
           commandControls_[kLoadButton]->isEnabled();
}

template <typename MakeLoader>
void MainDialog::replaceSong(MakeLoader makeLoader)
{
    // The previous song is gone as soon as a new load starts, also when the
    // new one is then cancelled.
    loader_.reset();
    std::unique_ptr<MidiFileLoader> loaded = makeLoader();
    if (loaded->size() == 0)
        return;
    loaded->Flatten();
    loader_ = std::move(loaded);
}

bool MainDialog::loadSongFile(const std::string& path)
{
    if (!acceptsSongNow())
        return false;
    replaceSong([&] { return std::make_unique<MidiFileLoader>(path); });
    return loader_ != nullptr;
}

void MainDialog::keyPressEvent(QKeyEvent* event)
{
    // Enter ends the window, as Escape does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event)
{
    contextMenu_->popup(event->globalPos());
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (acceptsSongNow() && urls.size() == 1 && urls.front().isLocalFile() && IsSongFile(urls.front().toLocalFile()))
        event->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile())
        return;
    event->acceptProposedAction();
    const std::string path = urls.front().toLocalFile().toStdString();
    // Loading may show a message: not inside the drop, whose source waits.
    QMetaObject::invokeMethod(this, [this, path] { loadSongFile(path); }, Qt::QueuedConnection);
}

// The rows' view.

void MainDialog::setOutputName(int row, std::string name)
{
    if (row >= 0 && row < kRows)
        outputNames_[static_cast<std::size_t>(row)]->setText(QString::fromStdString(name));
}

void MainDialog::setProgramName(int row, std::string name)
{
    if (row >= 0 && row < kRows)
    {
        QLineEdit* field = programNames_[static_cast<std::size_t>(row)];
        field->setText(QString::fromStdString(name));
        // A name longer than the field shows its beginning.
        field->setCursorPosition(0);
    }
}

int MainDialog::spinValue(int row) const
{
    return row >= 0 && row < kRows ? spins_[static_cast<std::size_t>(row)]->value() : 0;
}

void MainDialog::setSpinRange(int row, int low, int high)
{
    if (row >= 0 && row < kRows)
        spins_[static_cast<std::size_t>(row)]->setRange(low, high);
}

void MainDialog::setSpinValue(int row, int value)
{
    if (row >= 0 && row < kRows)
        spins_[static_cast<std::size_t>(row)]->setValue(value);
}

bool MainDialog::switchOn(int index) const
{
    return switchButtons_ && switchButtons_->isOn(index);
}

void MainDialog::setSwitch(int index, bool on)
{
    if (switchButtons_)
        switchButtons_->setState(index, on);
}

void MainDialog::repaint()
{
    // Every control copies its surface again; nothing is composed here.
    if (background_)
        background_->paintAll();
    if (commandButtons_)
        commandButtons_->paintAll();
    if (switchButtons_)
        switchButtons_->paintAll();
}

// The commands.

void MainDialog::endProgram()
{
    // Not inside the button's own press: the window ends once it returns.
    QMetaObject::invokeMethod(this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
}

void MainDialog::loadSong()
{
    if (!acceptsSongNow())
        return;
    replaceSong([] { return std::make_unique<MidiFileLoader>(); });
}

void MainDialog::togglePlay()
{
    // A loader whose song could not be flattened has nothing to play.
    MidiF0Data* song = loader_ ? loader_->playable() : nullptr;
    if (song == nullptr || stopping_ || playWaitsForSynth_ || !songRouter_)
        return;
    if (!state_->isPlaying()) {
        // The song's first notes would go to a synth that is not there yet:
        // Play waits for it, with the window answering meanwhile.
        if (synth_ && !synthTaken_) {
            playWaitsForSynth_ = true;
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            return;
        }
        startSong(*song);
        return;
    }
    // Stop's waits run on a thread of their own: the window goes on painting
    // and answering meanwhile, and a second click finds it stopping.
    stopping_ = true;
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    joinStopper();
    stopper_ = std::thread([song, mailbox = mailbox_] {
        song->Stop();
        MusicPlayer& player = MusicPlayer::instance();
        const auto until = std::chrono::steady_clock::now() + kIdleWait;
        while (!player.idle() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(kIdlePoll);
        std::this_thread::sleep_for(kAfterStop);
        mailbox->postStopped();
    });
}

void MainDialog::startSong(MidiF0Data& song)
{
    commandControls_[kLoadButton]->setEnabled(false);
    // Composed again, so that it shows its disabled caption.
    commandButtons_->setCaptionById(kLoadButton, kLoadCaption);
    commandButtons_->setCaptionById(kPlayButton, kStopCaption);
    state_->setPlaying(true);
    const std::shared_ptr<PlaybackMailbox> mailbox = mailbox_;
    const std::shared_ptr<SongEventRouter> router = songRouter_;
    ChannelRouter* instruments = instruments_.get();
    song.Play([mailbox] { mailbox->postEnd(); },
              [router](std::int32_t index, std::int32_t time, MidiEvent* event) {
                  router->onSongEvent(index, time, event);
              },
              // Once the player is gone, the instruments let go of their notes.
              [instruments] { instruments->releaseNotes(); });
    repaint();
}

void MainDialog::takeSynth()
{
    if (shutDown_ || !synth_ || synthTaken_ || synth_->state() == BackgroundSoftSynth::State::Loading)
        return;
    synthTaken_ = true;
    if (synth_->state() == BackgroundSoftSynth::State::Failed) {
        // What plays goes to the system's MIDI output, as where there is no synth.
        if (systemOutput_)
            InstallMidiOutputSystem(std::exchange(systemOutput_, nullptr));
        ShowMessage("There is no MIDI output port, and the built-in synth cannot start: " + synth_->error());
    }
    if (!std::exchange(playWaitsForSynth_, false))
        return;
    QApplication::restoreOverrideCursor();
    if (MidiF0Data* song = loader_ ? loader_->playable() : nullptr; song != nullptr && !shutDown_)
        startSong(*song);
}

void MainDialog::joinStopper()
{
    if (stopper_.joinable())
        stopper_.join();
}

void MainDialog::takeMailbox()
{
    if (!mailbox_ || shutDown_)
        return;
    const PlaybackMailbox::Taken taken = mailbox_->take();
    for (int row = 0; row < kRows; ++row)
        if (const std::int32_t spin = taken.spin[static_cast<std::size_t>(row)]; spin != 0)
            rows_.showProgram(row, spin);
    if (taken.stopped) {
        joinStopper();
        stopping_ = false;
        QApplication::restoreOverrideCursor();
        showStopped();
    } else if (taken.ended && !stopping_) {
        showStopped();
    }
}

void MainDialog::showStopped()
{
    state_->setPlaying(false);
    commandButtons_->setCaptionById(kPlayButton, kPlayCaption);
    commandControls_[kLoadButton]->setEnabled(true);
    commandButtons_->setCaptionById(kLoadButton, kLoadCaption);
    repaint();
}

void MainDialog::showHelp()
{
    HelpWindow::showHelp(this);
}

void MainDialog::chooseInstrument(int row)
{
    std::string path = state_->instrumentPath(row);
    if (!rack_ || ChooseFileToOpen(PluginFolders::kDefaultExtension, PluginFolders::kFilter,
                                   PluginFolders::InitialName(), path) == 0)
        return;
    state_->setInstrumentPath(row, path);
    setSpinValue(row, 1);
    setOutputName(row, FileNameFromPath(path));
    state_->setChannelRoute(row, RouteInstrument);
    syncInstrumentRoutes();
    const std::int32_t slot = row;
    rack_->loadInstruments(std::span(&slot, 1), path, [this, slot] {
        setEnabled(false);
        rack_->openEditor(slot);
        setEnabled(true);
    });
    setProgramName(row, rack_->programName(row));
}

void MainDialog::chooseInstrumentForAll()
{
    std::string path;
    if (!rack_ || ChooseFileToOpen(PluginFolders::kDefaultExtension, PluginFolders::kFilter,
                                   PluginFolders::InitialName(), path) == 0)
        return;
    const std::string name = FileNameFromPath(path);
    std::array<std::int32_t, kRows> everySlot{};
    for (int row = 0; row < kRows; ++row) {
        everySlot[static_cast<std::size_t>(row)] = row;
        setSpinValue(row, 1);
        setOutputName(row, name);
        state_->setChannelRoute(row, RouteInstrument);
        state_->setInstrumentPath(row, path);
    }
    syncInstrumentRoutes();
    rack_->loadInstruments(
        everySlot, path,
        [this] {
            setEnabled(false);
            rack_->openEditor(0);
            setEnabled(true);
        },
        [this](std::int32_t slot) {
            rack_->setParameter(slot, 0, kAllInstrumentsParameter);
            setProgramName(slot, rack_->programName(slot));
        });
}

}  // namespace sonrigo
