#pragma once

#include <QDialog>
#include <QPointer>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "app/ChannelRows.h"
#include "app/ChannelState.h"
#include "app/CommandDispatcher.h"
#include "app/RowView.h"
#include "platform/BackgroundSoftSynth.h"

class QLabel;
class QLineEdit;
class QMenu;

namespace sonrigo {

class ChannelRouter;
class MidiF0Data;
class MidiFileLoader;
class PlaybackMailbox;
class SongEventRouter;
class UiThreadWake;
class MidiOutputSystem;
class ProgramSpin;
class QtRackWindow;
class RackPrograms;
class SkinBackground;
class SkinButtonGroup;
class SkinStatic;
class SkinSwitchGroup;
class VstRack;

// The player's one window: sixteen channel rows, the "All" buttons over four
// of their columns, and the bottom row (power, Load MIDI, Play/Stop, Help).
// It owns the instrument rack and the loaded song for its whole life; the
// audio runs from the start-up to the shutdown.
//
// Construction builds the controls; startUp() then lays them out, sets every
// row to its defaults, creates the rack and starts the audio. The window ends
// through shutdown(), whichever way it was closed.
class MainDialog final : public QDialog, private RowView, private DialogCommands {
    Q_OBJECT

public:
    // Client area of the window, fixed: the background picture's size.
    static constexpr int kClientWidth = 574;
    static constexpr int kClientHeight = 696;
    static constexpr int kRows = ChannelState::kChannels;

    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    // How the built-in synth is made where the machine has no MIDI port (by
    // default: FluidSynth with the General MIDI SoundFont). Before startUp().
    void setSynthMaker(BackgroundSoftSynth::Maker make) { makeSynth_ = std::move(make); }

    // Lays the window out and starts the audio; once, before the window shows.
    // The built-in synth, where it is needed, is made beside the window and
    // joins the audio once it is in.
    void startUp();
    // Stops what plays, stops the audio, unloads the instruments, deletes the
    // rack and the song. Runs once; later calls do nothing.
    void shutdown();

    // Loads `path` as Load MIDI loads the file it asks for; false, after the
    // loader's message, when no song could be loaded. Not while a song plays.
    bool loadSongFile(const std::string& path);
    // A stop's waits are running on their own thread.
    bool stopping() const { return stopping_; }
    // Play was pressed while the built-in synth is still being made: the
    // song starts once it is in.
    bool playWaitsForSynth() const { return playWaitsForSynth_; }

    // What the rows and the commands read across threads.
    const std::shared_ptr<ChannelState>& state() const { return state_; }
    ChannelRows& rows() { return rows_; }
    CommandDispatcher& dispatcher() { return dispatcher_; }
    const std::string& midiOutName() const { return rows_.midiOutName(); }
    VstRack* rack() const { return rack_.get(); }
    MidiFileLoader* loader() const { return loader_.get(); }
    // The push buttons by index (0 power, 1 Load MIDI, 2 Play/Stop, 3 Help,
    // 4, 5, 22 and 39 the "All" buttons, 6 + r "Itnl", 23 + r "VST"), and the
    // switches (r "Fix", 16 + r the channel switch).
    SkinStatic* commandButton(int index) const;
    SkinStatic* switchButton(int index) const;
    SkinButtonGroup& commandButtons() { return *commandButtons_; }
    SkinSwitchGroup& switchButtons() { return *switchButtons_; }
    QLabel* outputNameField(int row) const { return outputNames_[static_cast<std::size_t>(row)]; }
    QLineEdit* programNameField(int row) const { return programNames_[static_cast<std::size_t>(row)]; }
    QLineEdit* programNumberField(int row) const { return programNumbers_[static_cast<std::size_t>(row)]; }
    ProgramSpin* programSpin(int row) const { return spins_[static_cast<std::size_t>(row)]; }
    // The menu a right click on the background opens (the About item).
    QMenu* contextMenu() const { return contextMenu_; }
    void showAbout();

    // The text of the window's About item.
    static const char* const kAboutItemText;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // RowView
    void setOutputName(int row, std::string name) override;
    void setProgramName(int row, std::string name) override;
    int spinValue(int row) const override;
    void setSpinRange(int row, int low, int high) override;
    void setSpinValue(int row, int value) override;
    bool switchOn(int index) const override;
    void setSwitch(int index, bool on) override;
    void repaint() override;

    // DialogCommands
    void endProgram() override;
    void loadSong() override;
    void togglePlay() override;
    void showHelp() override;
    void chooseInstrumentForAll() override;
    void chooseInstrument(int row) override;

    void buildControls();
    void createSkin();
    void startAudio();
    // Replaces the song with what `makeLoader` loads (none when nothing loaded).
    template <typename MakeLoader>
    void replaceSong(MakeLoader makeLoader);
    bool acceptsSongNow() const;
    void runCommand(int index);
    void onCommandButton(int index);
    // The rack's router follows the rows' routes.
    void syncInstrumentRoutes();
    // On the user-interface thread: what the playback threads have posted.
    void takeMailbox();
    // The transport back at rest: "      Play", Load MIDI usable.
    void showStopped();
    void startSong(MidiF0Data& song);
    // On the user-interface thread, once the built-in synth's making ended.
    void takeSynth();
    void joinStopper();

    std::shared_ptr<ChannelState> state_;
    ChannelRows rows_;
    CommandDispatcher dispatcher_;

    std::unique_ptr<SkinBackground> background_;
    std::unique_ptr<SkinButtonGroup> commandButtons_;
    std::unique_ptr<SkinSwitchGroup> switchButtons_;
    SkinStatic* backgroundControl_ = nullptr;
    std::array<SkinStatic*, 40> commandControls_{};
    std::array<SkinStatic*, 32> switchControls_{};
    std::array<QLabel*, kRows> outputNames_{};
    std::array<QLineEdit*, kRows> programNames_{};
    std::array<QLineEdit*, kRows> programNumbers_{};
    std::array<ProgramSpin*, kRows> spins_{};
    QMenu* contextMenu_ = nullptr;

    // The engine: the rack's window goes after the rack, and the MIDI output
    // the synth plays behind is put back when the rack goes.
    std::unique_ptr<QtRackWindow> rackWindow_;
    std::unique_ptr<VstRack> rack_;
    std::unique_ptr<RackPrograms> rackPrograms_;
    std::shared_ptr<MidiOutputSystem> systemOutput_;
    std::unique_ptr<ChannelRouter> instruments_;
    std::shared_ptr<PlaybackMailbox> mailbox_;
    std::shared_ptr<SongEventRouter> songRouter_;
    UiThreadWake* wake_ = nullptr;
    std::unique_ptr<MidiFileLoader> loader_;
    BackgroundSoftSynth::Maker makeSynth_;
    // The built-in synth, where the machine has no MIDI port; the rack plays
    // it too.
    std::shared_ptr<BackgroundSoftSynth> synth_;
    bool synthTaken_ = false;
    bool playWaitsForSynth_ = false;
    // Stop's waits, off the user-interface thread so that the window goes
    // on painting and answering.
    std::thread stopper_;
    bool stopping_ = false;
    bool started_ = false;
    bool shutDown_ = false;
};

}  // namespace sonrigo
