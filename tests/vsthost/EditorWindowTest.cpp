// The editor window on a real X server (the test runs under Xvfb), and the
// editor host where Qt does not run on X11.

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "vsthost/EditorHost.h"
#include "vsthost/EditorSession.h"
#include "vsthost/EditorWindow.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/QtEditorHost.h"
#include "vsthost/VstPlugin.h"
#include "vsthost/XErrorTrap.h"
#include "vsthost/XEventProcForwarder.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// Qt, fontconfig and GTK (amsynth's editor) keep caches until the process
// ends; the leak checker would report them all.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0";
}

// Qt's own threads (the xcb reader, D-Bus) and GLib's dconf worker, started by
// amsynth's GTK, hand data to the main thread through synchronisation inside
// those libraries, which ThreadSanitizer does not see: they are not
// instrumented. Every such hand-over would be reported as a race.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libxcb.so\nrace:libQt6XcbQpa.so\nrace:libQt6Core.so\nrace:libQt6DBus.so\nrace:libglib-2.0.so\n"
           "race:libgio-2.0.so\n";
}

namespace sonrigo {
namespace {

bool OnX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

Display* AppDisplay()
{
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

// Runs Qt's events until done, for timeoutMs at most (never done: a pause).
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000)
{
    for (int waited = 0; !done(); waited += 10) {
        if (waited >= timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}


// A second client of the X server: sees what the server has, not what the
// application's connection still holds back.
struct Observer {
    Display* display = XOpenDisplay(nullptr);
    ~Observer() { XCloseDisplay(display); }

    // The window's map state, or -1 when it does not exist.
    int mapState(unsigned long window, QSize* size = nullptr) const
    {
        XErrorTrap trap(display);
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, window, &attributes) == 0 || trap.takeError())
            return -1;
        if (size != nullptr)
            *size = QSize(attributes.width, attributes.height);
        return attributes.map_state;
    }
    // Sends an event of this type to the window's creator, as the window
    // manager does; fill sets the rest.
    void send(int type, Window window, const std::function<void(XEvent&)>& fill) const
    {
        XEvent event{};
        event.xany.type = type;
        event.xany.window = window;
        fill(event);
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    }
};

// Sits in front of the probe's dispatcher and looks at the host window, from
// another client, at the moments the editor opens and closes.
struct DispatchSpy {
    static inline vst::AEffectDispatcherProc original = nullptr;
    static inline const Observer* observer = nullptr;
    static inline unsigned long window = 0;
    static inline int stateAtOpen = -2, stateAtClose = -2;

    static vst::VstIntPtr Dispatch(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index,
                                   vst::VstIntPtr value, void* ptr, float opt)
    {
        if (opcode == vst::effEditOpen) {
            window = reinterpret_cast<std::uintptr_t>(ptr);
            stateAtOpen = observer->mapState(window);
        } else if (opcode == vst::effEditClose) {
            stateAtClose = observer->mapState(window);
        }
        return original(effect, opcode, index, value, ptr, opt);
    }
};

class EditorWindowOnX11 : public testing::Test {
protected:
    void SetUp() override
    {
        if (!OnX11())
            GTEST_SKIP() << "Qt does not run on X11 here";
        ASSERT_NE(observer_.display, nullptr);
        InstallEditorHost(host_);
    }
    void TearDown() override { InstallEditorHost(nullptr); }

    long count(int opcode) const
    {
        return static_cast<long>(log_.linesStartingWith("dispatch " + std::to_string(opcode) + " ").size());
    }

    // Opens the editor as the program does; whileOpen runs inside the modal
    // loop once the window is on screen. The window is closed afterwards if
    // whileOpen left it open.
    void showEditor(VstPlugin& plugin, const std::function<void(EditorWindow&)>& whileOpen)
    {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            QPointer<EditorWindow> window = qobject_cast<EditorWindow*>(QApplication::activeModalWidget());
            ran = !window.isNull() &&
                  PumpUntil([&] { return observer_.mapState(window->nativeWindow()) == IsViewable; });
            if (ran)
                whileOpen(*window);
            if (!window.isNull() && window->isVisible())
                window->done(0);
        });
        plugin.openEditor();
        EXPECT_TRUE(ran) << "no editor window showed";
    }

    test::ProbeLog log_;  // before the plug-in: the probe reads its variable when it loads
    VstPlugin plugin_{44100.0f, 882, 16};
    Observer observer_;
    std::shared_ptr<QtEditorHost> host_ = std::make_shared<QtEditorHost>();
};

// closeWindow closes the window of its own session only, and returns with the
// editor closed.
TEST_F(EditorWindowOnX11, ClientAreaIsTheEditorRectangleAtLeast100SquareAndCloseWindowClosesIt)
{
    for (const auto& [path, expected] : {std::pair{SONRIGO_PROBE_PATH, QSize(500, 300)},
                                         std::pair{SONRIGO_PROBE_SMALL_RECT_PATH, QSize(100, 100)},
                                         std::pair{SONRIGO_PROBE_NO_RECT_PATH, EditorWindow::kDefaultClientSize}}) {
        SCOPED_TRACE(path);
        VstPlugin plugin(44100.0f, 882, 16);
        ASSERT_TRUE(plugin.load(path));
        QSize size;
        showEditor(plugin, [&](EditorWindow& window) {
            observer_.mapState(window.nativeWindow(), &size);
            EditorSession stranger(plugin_);
            host_->closeWindow(stranger);
            EXPECT_TRUE(window.isVisible());
            const long closes = count(vst::effEditClose);
            host_->closeWindow(*plugin.editorSession());
            EXPECT_EQ(count(vst::effEditClose), closes + 1);
            EXPECT_FALSE(window.isVisible());
        });
        EXPECT_EQ(size, expected);
    }
}

TEST_F(EditorWindowOnX11, EditorOpensOnTheLiveWindowIdlesWhileOpenAndTheCloseBoxClosesItOnce)
{
    ASSERT_TRUE(plugin_.load(SONRIGO_PROBE_PATH));
    DispatchSpy::observer = &observer_;
    DispatchSpy::original = std::exchange(plugin_.effect()->dispatcher, &DispatchSpy::Dispatch);
    unsigned long window = 0;
    QString title;
    showEditor(plugin_, [&](EditorWindow& shown) {
        window = shown.nativeWindow();
        title = shown.windowTitle();
        const long before = count(vst::effEditIdle);
        EXPECT_TRUE(PumpUntil([&] { return count(vst::effEditIdle) >= before + 3; }));
        // What the window manager sends when the user clicks the close box.
        observer_.send(ClientMessage, window, [this](XEvent& event) {
            event.xclient.message_type = XInternAtom(observer_.display, "WM_PROTOCOLS", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(XInternAtom(observer_.display, "WM_DELETE_WINDOW", False));
            event.xclient.data.l[1] = CurrentTime;
        });
        EXPECT_TRUE(PumpUntil([&] { return !shown.isVisible(); }));
    });
    ASSERT_NE(window, 0u);
    EXPECT_EQ(DispatchSpy::stateAtOpen, IsUnmapped) << "the window must exist on the server before effEditOpen";
    EXPECT_EQ(title.toStdString(), "Sonrigo Probe Instrument With A ");
    EXPECT_EQ(log_.linesStartingWith("editOpen "),
              std::vector<std::string>{"editOpen window " + std::to_string(window) + " display " +
                                       std::to_string(reinterpret_cast<long>(AppDisplay()))});
    EXPECT_EQ(DispatchSpy::stateAtClose, IsViewable);
    const long afterClose = count(vst::effEditIdle);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(count(vst::effEditIdle), afterClose);
    plugin_.closeEditor();
    EXPECT_EQ(count(vst::effEditClose), 1);
}

// A real editor: amsynth's, GTK 2 in its own X connection, reparented into
// the host window; shown twice, with the library unloaded in between, as when
// the user picks the same instrument again. Its picture is kept beside the
// test binary.
TEST_F(EditorWindowOnX11, AmsynthEditorDrawsIntoTheWindowEachTimeItOpens)
{
    if (!std::filesystem::exists(SONRIGO_AMSYNTH_PATH))
        GTEST_SKIP() << "amsynth is not installed";
    QImage image;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        VstPlugin amsynth(44100.0f, 882, 16);
        ASSERT_TRUE(amsynth.load(SONRIGO_AMSYNTH_PATH));
        image = QImage();
        showEditor(amsynth, [&](EditorWindow& window) {
            PumpUntil([] { return false; }, 1000);
            // What the server shows there, the plug-in's child windows included.
            image = window.screen()->grabWindow(window.nativeWindow()).toImage();
        });
        ASSERT_FALSE(image.isNull());
    }
    ASSERT_TRUE(image.save(SONRIGO_SCREENSHOT_DIR "/amsynth-editor.png"));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 16) << "the window shows no editor";
}

TEST(EditorHostWithoutX11, ReturnsAtOnceWithoutTouchingThePlugin)
{
    if (OnX11())
        GTEST_SKIP() << "runs with QT_QPA_PLATFORM=offscreen";
    test::ProbeLog log;
    VstPlugin plugin(44100.0f, 882, 16);
    ASSERT_TRUE(plugin.load(SONRIGO_PROBE_PATH));
    InstallEditorHost(std::make_shared<QtEditorHost>());
    plugin.openEditor();
    InstallEditorHost(nullptr);
    EXPECT_EQ(log.dispatches().size(), 3u);  // the load's own
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

// Stands in for an Xlib editor's event procedure.
std::vector<XEvent> forwarded;
void RecordEvent(XEvent* event)
{
    forwarded.push_back(*event);
}

bool fatalHandlerCalled = false;
int FatalHandler(Display*, XErrorEvent*)
{
    fatalHandlerCalled = true;
    return 0;
}

class XEventProcForwarding : public testing::Test {
protected:
    void SetUp() override
    {
        if (!OnX11())
            GTEST_SKIP() << "Qt does not run on X11 here";
        display_ = AppDisplay();
        host_.setAttribute(Qt::WA_NativeWindow);
        host_.resize(200, 200);
        host_.show();
        forwarded.clear();
    }

    // A window made the way an Xlib editor makes its own, on the connection
    // the host hands it.
    Window makeWindow(Window parent, std::optional<std::uintptr_t> proc)
    {
        const Window window = XCreateSimpleWindow(display_, parent, 0, 0, 100, 80, 0, 0, 0);
        XSelectInput(display_, window, ExposureMask | ButtonPressMask | StructureNotifyMask);
        if (proc) {
            // 64 bits as two 32-bit items, low half first.
            long halves[2] = {static_cast<long>(*proc & 0xFFFFFFFFu), static_cast<long>(*proc >> 32)};
            const Atom atom = XInternAtom(display_, "_XEventProc", False);
            XChangeProperty(display_, window, atom, atom, 32, PropModeReplace, reinterpret_cast<unsigned char*>(halves), 2);
        }
        XMapWindow(display_, window);
        XSync(display_, False);
        return window;
    }

    Display* display_ = nullptr;
    QWidget host_;
    Observer observer_;
};

TEST_F(XEventProcForwarding, DeliversTheEventsOfEditorWindowsAsXEventsAndSurvivesVanishedWindows)
{
    const Window editor = makeWindow(host_.winId(), reinterpret_cast<std::uintptr_t>(&RecordEvent));
    const Window inner = makeWindow(editor, std::nullopt);
    const Window stranger = makeWindow(host_.winId(), std::nullopt);
    XEventProcForwarder forwarder(display_, host_.winId());
    forwarder.rescan();

    const auto got = [](int type, Window window) {
        return std::ranges::count_if(forwarded, [&](const XEvent& e) { return e.type == type && e.xany.window == window; });
    };
    const auto button3 = [](XEvent& event) {
        event.xbutton.button = 3;
        event.xbutton.x = 12;
        event.xbutton.y = 34;
    };
    for (const Window window : {stranger, inner, editor})
        observer_.send(ButtonPress, window, button3);
    ASSERT_TRUE(PumpUntil([&] { return got(ButtonPress, editor) == 1; }));
    EXPECT_EQ(got(ButtonPress, inner), 1);
    EXPECT_EQ(got(ButtonPress, stranger), 0);
    const auto press = std::ranges::find_if(
        forwarded, [&](const XEvent& e) { return e.type == ButtonPress && e.xbutton.window == editor; });
    EXPECT_EQ(std::tuple(press->xbutton.button, press->xbutton.x, press->xbutton.y, press->xany.display),
              std::tuple(3u, 12, 34, display_));

    // Expose comes from the server itself, not from another client.
    XClearArea(display_, editor, 0, 0, 0, 0, True);
    XFlush(display_);
    EXPECT_TRUE(PumpUntil([&] { return got(Expose, editor) > 0; }));

    // The editor goes; a plug-in's toolkit may have installed a handler that exits.
    XErrorHandler previous = XSetErrorHandler(FatalHandler);
    XDestroyWindow(display_, editor);
    EXPECT_EQ(XEventProcForwarder::ReadEventProc(display_, editor), std::nullopt);
    XEventProcForwarder vanished(display_, editor);
    vanished.rescan();
    forwarder.rescan();
    EXPECT_FALSE(fatalHandlerCalled);
    EXPECT_EQ(XSetErrorHandler(previous), &FatalHandler) << "the process handler must be put back";
}

}  // namespace
}  // namespace sonrigo

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((platform.isEmpty() || platform == "xcb") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("no X display: skipped");
        return 77;
    }
    sonrigo::PrepareQtForPluginEditors();
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
