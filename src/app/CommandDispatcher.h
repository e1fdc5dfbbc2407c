#pragma once

#include <cstdint>

namespace sonrigo {

class ChannelRows;

// The commands of the push buttons that the main dialog carries out itself;
// the row and column commands belong to ChannelRows.
class DialogCommands {
public:
    virtual ~DialogCommands() = default;

    virtual void endProgram() = 0;
    virtual void loadSong() = 0;
    virtual void togglePlay() = 0;
    virtual void showHelp() = 0;
    virtual void chooseInstrumentForAll() = 0;
    virtual void chooseInstrument(std::int32_t row) = 0;
};

// Turns the index of a pressed push button into its command. Borrows both,
// which must outlive it; called on the user-interface thread.
class CommandDispatcher {
public:
    CommandDispatcher(DialogCommands& dialog, ChannelRows& rows) : dialog_(dialog), rows_(rows) {}

    // An index that names no button does nothing.
    void onCommandButton(std::int32_t index);

private:
    DialogCommands& dialog_;
    ChannelRows& rows_;
};

}  // namespace sonrigo
