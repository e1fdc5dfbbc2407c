#pragma once

namespace sonrigo {

// The desktop program: prepares Qt for the plug-in editors, the Japanese
// font and the message boxes and file dialogs of the window, shows the main
// window (with the song named on the command line loaded), and ends the
// program when it closes.
class MainApplication {
public:
    static int run(int argc, char** argv);

    // The font names the window's texts ask for, and what stands in for them
    // on Linux. Call before any text is drawn.
    static void substituteFonts();
};

}  // namespace sonrigo
