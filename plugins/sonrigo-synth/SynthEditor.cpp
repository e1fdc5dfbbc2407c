#include "SynthEditor.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sonrigo::synth {

namespace {

// Catches the X errors of one connection while it lives, so that a failing
// call (BadWindow when the host's window has gone) is noticed instead of
// ending the process through Xlib's default handler. The handler is
// process-wide: the trap installs it only around its own calls and passes
// errors of other connections on to the handler it replaced.
class XErrorTrap {
public:
    explicit XErrorTrap(Display* display) : display_(display), outer_(active_)
    {
        const XErrorHandler replaced = XSetErrorHandler(&XErrorTrap::handle);
        if (outer_ == nullptr)
            replaced_.store(replaced, std::memory_order_relaxed);
        active_ = this;
    }
    ~XErrorTrap()
    {
        XSync(display_, False);
        active_ = outer_;
        if (outer_ == nullptr)
            XSetErrorHandler(replaced_.load(std::memory_order_relaxed));
    }
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // True when any call made so far on the connection has failed.
    bool failed()
    {
        XSync(display_, False);
        return failed_;
    }

private:
    static int handle(Display* display, XErrorEvent* error)
    {
        for (XErrorTrap* trap = active_; trap != nullptr; trap = trap->outer_) {
            if (trap->display_ == display) {
                trap->failed_ = true;
                return 0;
            }
        }
        const XErrorHandler replaced = replaced_.load(std::memory_order_relaxed);
        return replaced != nullptr ? replaced(display, error) : 0;
    }

    Display* display_;
    XErrorTrap* outer_;
    bool failed_ = false;
    // Xlib calls the handler on the thread whose call met the error.
    static thread_local XErrorTrap* active_;
    static std::atomic<XErrorHandler> replaced_;
};

thread_local XErrorTrap* XErrorTrap::active_ = nullptr;
std::atomic<XErrorHandler> XErrorTrap::replaced_{nullptr};

// The keyboard picture: five octaves from C2.
constexpr int kLowestKey = 36;
constexpr int kWhiteKeys = 35;
constexpr int kKeyWidth = 10;
constexpr int kKeyboardLeft = (SynthEditor::kWidth - kWhiteKeys * kKeyWidth) / 2;
constexpr int kKeyboardTop = 112;
constexpr int kKeyboardHeight = 80;
constexpr int kBlackKeyWidth = 6;
constexpr int kBlackKeyHeight = 50;
// The level bar spans -60 dBFS to 0 dBFS.
constexpr int kMeterFloorDb = -60;

bool KeyDown(const std::uint64_t keys[2], int note)
{
    return (keys[note / 64] >> (note % 64) & 1U) != 0;
}

void DrawText(Display* display, Drawable drawable, GC gc, int x, int y, const char* text)
{
    XDrawString(display, drawable, gc, x, y, text, static_cast<int>(std::strlen(text)));
}

}  // namespace

SynthEditor::SynthEditor(const SynthPrograms& programs, const SynthMeter& meter) : programs_(programs), meter_(meter)
{
}

SynthEditor::~SynthEditor()
{
    close();
}

unsigned long SynthEditor::colour(int red, int green, int blue)
{
    XColor c{};
    c.red = static_cast<unsigned short>(red * 257);
    c.green = static_cast<unsigned short>(green * 257);
    c.blue = static_cast<unsigned short>(blue * 257);
    c.flags = DoRed | DoGreen | DoBlue;
    if (XAllocColor(display_, colormap_, &c) != 0)
        return c.pixel;
    const int screen = DefaultScreen(display_);
    return red + green + blue > 3 * 128 ? WhitePixel(display_, screen) : BlackPixel(display_, screen);
}

bool SynthEditor::open(void* parentWindow, void* hostDisplay)
{
    close();
    if (parentWindow == nullptr)
        return false;
    const Window parent = static_cast<Window>(reinterpret_cast<std::uintptr_t>(parentWindow));
    // The same server as the host's connection, but a connection of our own.
    const char* name = hostDisplay != nullptr ? DisplayString(static_cast<Display*>(hostDisplay)) : nullptr;
    display_ = XOpenDisplay(name);
    if (display_ == nullptr)
        return false;

    bool ok = false;
    {
        XErrorTrap trap(display_);
        const int screen = DefaultScreen(display_);
        window_ = XCreateSimpleWindow(display_, parent, 0, 0, kWidth, kHeight, 0, BlackPixel(display_, screen),
                                      BlackPixel(display_, screen));
        XSelectInput(display_, window_, ExposureMask | StructureNotifyMask);
        XWindowAttributes attributes{};
        if (!trap.failed() && XGetWindowAttributes(display_, window_, &attributes) != 0) {
            colormap_ = attributes.colormap;
            pixmap_ = XCreatePixmap(display_, window_, kWidth, kHeight, static_cast<unsigned>(attributes.depth));
            gc_ = XCreateGC(display_, pixmap_, 0, nullptr);
            palette_ = {colour(28, 30, 36),   colour(230, 232, 236), colour(140, 146, 160), colour(90, 200, 140),
                        colour(245, 245, 240), colour(20, 20, 24),   colour(240, 160, 60)};
            XSetWindowBackgroundPixmap(display_, window_, None);
            XMapWindow(display_, window_);
            drawn_ = snapshot();
            draw(drawn_);
            ok = !trap.failed();
        }
    }
    if (!ok) {
        // Closing the connection also frees whatever was made on it.
        XCloseDisplay(display_);
        display_ = nullptr;
        window_ = pixmap_ = 0;
        gc_ = nullptr;
    }
    windowGone_ = false;
    return ok;
}

void SynthEditor::idle()
{
    if (display_ == nullptr)
        return;
    XErrorTrap trap(display_);
    bool exposed = false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == Expose && event.xexpose.count == 0)
            exposed = true;
        else if (event.type == DestroyNotify && event.xdestroywindow.window == window_)
            windowGone_ = true;
    }
    if (windowGone_)
        return;
    View view = snapshot();
    if (exposed || !(view == drawn_)) {
        drawn_ = std::move(view);
        draw(drawn_);
    }
    if (trap.failed())
        windowGone_ = true;
}

void SynthEditor::close()
{
    if (display_ == nullptr)
        return;
    {
        XErrorTrap trap(display_);
        if (gc_ != nullptr)
            XFreeGC(display_, gc_);
        if (pixmap_ != 0)
            XFreePixmap(display_, pixmap_);
        if (!windowGone_)
            XDestroyWindow(display_, window_);
    }
    XCloseDisplay(display_);
    display_ = nullptr;
    window_ = pixmap_ = 0;
    gc_ = nullptr;
    windowGone_ = false;
}

SynthEditor::View SynthEditor::snapshot() const
{
    View view;
    view.program = programs_.current();
    view.programName = programs_.name(view.program);
    for (int i = 0; i < kParamCount; ++i)
        view.params[static_cast<std::size_t>(i)] = programs_.param(i);
    const float peak = meter_.peak.load(std::memory_order_relaxed);
    view.levelDb = peak > 0.0f ? std::max(kMeterFloorDb, static_cast<int>(std::floor(20.0f * std::log10(peak))))
                               : kMeterFloorDb;
    view.keys[0] = meter_.keys[0].load(std::memory_order_relaxed);
    view.keys[1] = meter_.keys[1].load(std::memory_order_relaxed);
    return view;
}

void SynthEditor::draw(const View& view)
{
    Display* d = display_;
    const Drawable p = pixmap_;
    GC gc = gc_;

    XSetForeground(d, gc, palette_.background);
    XFillRectangle(d, p, gc, 0, 0, kWidth, kHeight);

    XSetForeground(d, gc, palette_.accent);
    DrawText(d, p, gc, 10, 20, "Sonrigo Synth");
    char line[96];
    XSetForeground(d, gc, palette_.text);
    std::snprintf(line, sizeof line, "Program %d: %s", view.program + 1, view.programName.c_str());
    DrawText(d, p, gc, 10, 42, line);

    XSetForeground(d, gc, palette_.dim);
    for (int i = 0; i < kParamCount; ++i) {
        char value[16];
        FormatParamDisplay(i, view.params[static_cast<std::size_t>(i)], value, sizeof value);
        std::snprintf(line, sizeof line, "%s %s %s", ParamName(i), value, ParamLabel(i));
        DrawText(d, p, gc, 10 + (i % 2) * 175, 62 + (i / 2) * 16, line);
    }

    // Level bar.
    const int meterWidth = kWidth - 20;
    XSetForeground(d, gc, palette_.black);
    XFillRectangle(d, p, gc, 10, 90, static_cast<unsigned>(meterWidth), 10);
    const int filled = (view.levelDb - kMeterFloorDb) * meterWidth / -kMeterFloorDb;
    if (filled > 0) {
        XSetForeground(d, gc, view.levelDb >= -1 ? palette_.pressed : palette_.accent);
        XFillRectangle(d, p, gc, 10, 90, static_cast<unsigned>(filled), 10);
    }

    // Keyboard: white keys, then the black keys over them.
    static constexpr int kWhiteOffsets[7] = {0, 2, 4, 5, 7, 9, 11};
    for (int k = 0; k < kWhiteKeys; ++k) {
        const int note = kLowestKey + 12 * (k / 7) + kWhiteOffsets[k % 7];
        XSetForeground(d, gc, KeyDown(view.keys, note) ? palette_.pressed : palette_.white);
        XFillRectangle(d, p, gc, kKeyboardLeft + k * kKeyWidth, kKeyboardTop, kKeyWidth - 1, kKeyboardHeight);
    }
    for (int k = 0; k < kWhiteKeys; ++k) {
        const int step = k % 7;
        if (step == 2 || step == 6)
            continue;  // no black key after E and B
        const int note = kLowestKey + 12 * (k / 7) + kWhiteOffsets[step] + 1;
        XSetForeground(d, gc, KeyDown(view.keys, note) ? palette_.pressed : palette_.black);
        XFillRectangle(d, p, gc, kKeyboardLeft + (k + 1) * kKeyWidth - kBlackKeyWidth / 2 - 1, kKeyboardTop,
                       kBlackKeyWidth, kBlackKeyHeight);
    }

    XCopyArea(d, p, window_, gc, 0, 0, kWidth, kHeight, 0, 0);
    XFlush(d);
}

}  // namespace sonrigo::synth
