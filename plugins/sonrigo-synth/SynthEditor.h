#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "SynthEngine.h"
#include "SynthPrograms.h"
#include "vsthost/VstApi.h"

struct _XDisplay;
struct _XGC;

namespace sonrigo::synth {

// The plug-in's editor: a fixed-size X11 child window of the host's window
// showing the synth's name, the current program, the parameter values, an
// output level bar and the keys that are down.
//
// It talks to the X server over its own connection, opened in open() and
// closed in close(), so that it never reads or steals events from the host's
// connection. Every call comes from the host's user-interface thread. It only
// reads the programs and the meter, which are safe to read from that thread
// while the render thread runs.
class SynthEditor {
public:
    static constexpr int kWidth = 360;
    static constexpr int kHeight = 200;

    SynthEditor(const SynthPrograms& programs, const SynthMeter& meter);
    ~SynthEditor();
    SynthEditor(const SynthEditor&) = delete;
    SynthEditor& operator=(const SynthEditor&) = delete;

    vst::ERect* rect() { return &rect_; }

    // parentWindow is the host's X11 window id; hostDisplay the host's
    // Display* or null (then $DISPLAY is used). False when no connection or
    // window could be made (the parent does not exist, no X server).
    bool open(void* parentWindow, void* hostDisplay);
    // Handles the window's pending events and redraws what changed.
    void idle();
    void close();
    bool isOpen() const { return display_ != nullptr; }

private:
    struct View {
        int program = -1;
        std::string programName;
        std::array<float, kParamCount> params{};
        int levelDb = 0;  // whole decibels, so that the bar redraws only when it moves visibly
        std::uint64_t keys[2] = {0, 0};

        bool operator==(const View&) const = default;
    };

    View snapshot() const;
    void draw(const View& view);
    unsigned long colour(int red, int green, int blue);

    const SynthPrograms& programs_;
    const SynthMeter& meter_;
    vst::ERect rect_{0, 0, kHeight, kWidth};

    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    unsigned long pixmap_ = 0;
    _XGC* gc_ = nullptr;
    unsigned long colormap_ = 0;
    bool windowGone_ = false;
    View drawn_{};

    struct Palette {
        unsigned long background, text, dim, accent, white, black, pressed;
    } palette_{};
};

}  // namespace sonrigo::synth
