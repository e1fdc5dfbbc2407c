#pragma once

#include <functional>

namespace sonrigo {

class MainDialog;

// The desktop program: prepares Qt for the plug-in editors, the Japanese
// font and the message boxes and file dialogs of the window, shows the main
// window (with the song named on the command line loaded), and ends the
// program when it closes.
class MainApplication {
public:
    // `onShown`, when given, is called on the user-interface thread once the
    // window shows, after what the start-up had to say: a driver that acts
    // on the window as a user would (the end-to-end test).
    //
    // `PROGRAM --plugin-trial PATH` runs a plug-in library's trial instead
    // (see PluginTrial): the window tries each library that way, with the
    // program it runs in, before it loads it.
    static int run(int argc, char** argv, std::function<void(MainDialog&)> onShown = {});
    static constexpr const char* kPluginTrialOption = "--plugin-trial";

    // The font names the window's texts ask for, and what stands in for them
    // on Linux. Call before any text is drawn.
    static void substituteFonts();
};

}  // namespace sonrigo
