// The built sonrigo-synth.so, loaded as a host loads it and rendered at the
// host's block length (882 frames at 44100 Hz).

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vsthost/VstApi.h"

// Last: Xlib defines macros (None, Bool, Status) that clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace sonrigo::vst;

constexpr float kRate = 44100.0f;
constexpr int kBlock = 882;
constexpr int kPad = 1;  // sustained, and its release is over a second long
constexpr int kPluck = 2;
constexpr int kOrgan = 3;  // steady partials that do not decay while held

VstMidiEvent NoteOn(int note, int frame = 0)
{
    return MakeMidiEvent(0x90, static_cast<std::uint8_t>(note), 100, frame);
}
VstMidiEvent Controller(int number, int value)
{
    return MakeMidiEvent(0xB0, static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(value));
}

// One opened and resumed instance on a program, made through the entry point
// named and closed as a host closes it. The library stays open for the whole
// run, as a host keeps it.
class Synth {
public:
    explicit Synth(int program = 0, const char* entryPoint = "VSTPluginMain")
    {
        static void* library = dlopen(SONRIGO_SYNTH_PATH, RTLD_NOW | RTLD_LOCAL);
        auto entry = reinterpret_cast<PluginEntryProc>(library ? dlsym(library, entryPoint) : nullptr);
        const auto host = [](AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
            return opcode == audioMasterVersion ? 2400 : 0;
        };
        effect_ = entry ? entry(host) : nullptr;
        if (effect_ == nullptr || effect_->magic != kEffectMagic)
            throw std::runtime_error(std::string("no instance from " SONRIGO_SYNTH_PATH " through ") + entryPoint);
        dispatch(effOpen);
        dispatch(effSetSampleRate, 0, 0, nullptr, kRate);
        dispatch(effSetBlockSize, 0, kBlock);
        dispatch(effMainsChanged, 0, 1);
        dispatch(effSetProgram, 0, program);
    }
    ~Synth()
    {
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose);
    }
    Synth(const Synth&) = delete;
    Synth& operator=(const Synth&) = delete;

    AEffect* effect() const { return effect_; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0)
    {
        return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
    }
    std::string text(VstInt32 opcode, VstInt32 index = 0)
    {
        char buffer[256] = {};
        dispatch(opcode, index, 0, buffer);
        return buffer;
    }

    void send(std::vector<VstMidiEvent> events)
    {
        // VstEvents followed by room for every pointer, as hosts lay it out.
        std::vector<VstIntPtr> storage(2 + events.size() + 2);
        auto* list = reinterpret_cast<VstEvents*>(storage.data());
        list->numEvents = static_cast<VstInt32>(events.size());
        for (std::size_t i = 0; i < events.size(); ++i)
            list->events[i] = reinterpret_cast<VstEvent*>(&events[i]);
        dispatch(effProcessEvents, 0, 0, list);
    }

    // Renders whole blocks and returns the left channel, checking that every
    // frame is written and that the right channel carries the same signal.
    std::vector<float> render(int frames)
    {
        std::vector<float> all;
        while (frames > 0) {
            const int n = std::min(frames, kBlock);
            std::vector<float> left(static_cast<std::size_t>(n), 99.0f), right(static_cast<std::size_t>(n), 99.0f);
            float* outputs[2] = {left.data(), right.data()};
            effect_->processReplacing(effect_, nullptr, outputs, n);
            EXPECT_EQ(left, right);
            all.insert(all.end(), left.begin(), left.end());
            frames -= n;
        }
        return all;
    }
    std::vector<float> renderSeconds(double seconds) { return render(static_cast<int>(seconds * kRate)); }

private:
    AEffect* effect_ = nullptr;
};

double Rms(const std::vector<float>& s)
{
    double sum = 0;
    for (float x : s)
        sum += double(x) * x;
    return std::sqrt(sum / double(s.size()));
}

// The largest magnitude, infinite once a sample is not a number.
float Peak(const std::vector<float>& s)
{
    float peak = 0;
    for (float x : s)
        peak = std::isnan(x) ? INFINITY : std::max(peak, std::fabs(x));
    return peak;
}

// Amplitude of the component at hz (Hann-windowed single-bin DFT).
double ToneLevel(const std::vector<float>& s, double hz)
{
    double re = 0, im = 0, windowSum = 0;
    const double n = double(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / n);
        const double phase = 2 * std::numbers::pi * hz * double(i) / kRate;
        re += w * s[i] * std::cos(phase);
        im += w * s[i] * std::sin(phase);
        windowSum += w;
    }
    return 2 * std::hypot(re, im) / windowSum;
}

// What a host relies on: a second entry point making instances of their own,
// programs kept in range, names cut to their limit, parameters clamped and
// kept per program.
TEST(SynthPlugin, InstancesProgramsAndParametersAsAHostUsesThem)
{
    Synth synth;
    Synth viaMain(0, "main");  // older hosts look for "main"
    synth.send({NoteOn(60)});
    EXPECT_GT(Rms(synth.renderSeconds(0.1)), 0.0);
    EXPECT_EQ(Peak(viaMain.renderSeconds(0.1)), 0.0f);

    AEffect* e = synth.effect();
    EXPECT_EQ(synth.dispatch(effGetProgramNameIndexed, e->numPrograms, 0, nullptr), 0);
    synth.dispatch(effSetProgram, 0, 4);
    synth.dispatch(effSetProgram, 0, 99);  // a program the synth does not have
    EXPECT_EQ(synth.dispatch(effGetProgram), 4);
    EXPECT_EQ(viaMain.dispatch(effGetProgram), 0);
    const std::string program5 = synth.text(effGetProgramNameIndexed, 5);
    synth.dispatch(effSetProgramName, 0, 0, const_cast<char*>("A name far longer than twenty-four characters"));
    EXPECT_EQ(synth.text(effGetProgramName), std::string("A name far longer than twenty-four characters", 24));
    EXPECT_EQ(synth.text(effGetProgramNameIndexed, 5), program5);

    e->setParameter(e, 0, 7.0f);  // on program 4
    EXPECT_FLOAT_EQ(e->getParameter(e, 0), 1.0f);
    e->setParameter(e, 0, 0.0f);
    synth.dispatch(effSetProgram, 0, 1);
    EXPECT_NE(e->getParameter(e, 0), 0.0f);
    synth.dispatch(effSetProgram, 0, 4);
    EXPECT_FLOAT_EQ(e->getParameter(e, 0), 0.0f);
}

// Each program sounds its own way, chosen by the host or by a program change.
TEST(SynthSound, EveryProgramSoundsCleanlyAndFallsSilentAfterItsRelease)
{
    std::set<std::vector<float>> sounds;
    for (int program = 0; program < 8; ++program) {
        SCOPED_TRACE("program " + std::to_string(program));
        Synth synth(program), byMidi;
        const double releaseMs = std::atof(synth.text(effGetParamDisplay, 2).c_str());
        synth.send({NoteOn(60)});
        byMidi.send({MakeMidiEvent(0xC0, static_cast<std::uint8_t>(program), 0), NoteOn(60)});
        const std::vector<float> held = synth.renderSeconds(1.0);
        EXPECT_GT(Rms(held), 0.01);
        EXPECT_LT(Peak(held), 0.5f) << "one note leaves headroom";
        EXPECT_EQ(byMidi.renderSeconds(1.0), held);
        sounds.insert(held);

        synth.send({MakeMidiEvent(0x80, 60, 0)});
        // The release is the time to fall 60 dB; the voice ends at -80 dB.
        EXPECT_LT(Peak(synth.renderSeconds(releaseMs * 1.5 / 1000 + 0.05)), 0.5f);
        EXPECT_EQ(Peak(synth.render(kBlock)), 0.0f);
    }
    EXPECT_EQ(sounds.size(), 8u);
}

TEST(SynthSound, HighNotesStayBandLimited)
{
    // The pluck's saw and square at C7 (2093 Hz) with the filter wide open.
    // Harmonics 11 to 20 lie above the Nyquist frequency; what folds back of
    // them lands between the real harmonics. Band-limited oscillators keep
    // it about 30 dB down, naive ones only 20 dB.
    Synth synth(kPluck);
    synth.effect()->setParameter(synth.effect(), 3, 1.0f);
    synth.send({MakeMidiEvent(0x90, 96, 127)});
    synth.renderSeconds(0.02);
    const std::vector<float> s = synth.renderSeconds(0.28);
    const double fundamental = ToneLevel(s, 2093.0);
    ASSERT_GT(fundamental, 0.01);
    double folded = 0;
    for (int harmonic = 11; harmonic <= 20; ++harmonic)
        folded += ToneLevel(s, std::fabs(kRate - harmonic * 2093.0));
    EXPECT_LT(folded, 0.15 * fundamental);
}

// Out of order in the list, and a frame beyond the block: each event still
// lands at its frame, in frame order, the late one at the block's end.
TEST(SynthSound, EventsTakeEffectAtTheirFrameWithinTheBlock)
{
    Synth synth, reference;
    synth.send({NoteOn(64, 600), NoteOn(67, 100), NoteOn(72, 5000)});
    reference.send({NoteOn(67, 100), NoteOn(64, 600), NoteOn(72, kBlock - 1)});
    std::vector<float> both = synth.render(kBlock);
    const auto onset = std::find_if(both.begin(), both.end(), [](float x) { return x != 0.0f; }) - both.begin();
    EXPECT_GE(onset, 100);
    EXPECT_LE(onset, 102);  // the oscillators start at phase zero
    const std::vector<float> next = synth.render(kBlock);
    both.insert(both.end(), next.begin(), next.end());
    EXPECT_EQ(both, reference.render(2 * kBlock));
}

TEST(SynthSound, ThirtyTwoLoudNotesAndMoreNeverClip)
{
    Synth synth(kPad);
    synth.effect()->setParameter(synth.effect(), 0, 1.0f);  // +6 dB
    synth.send({Controller(7, 127), Controller(11, 127)});
    std::vector<VstMidiEvent> chord;
    for (int i = 0; i < 40; ++i)  // more notes than voices: the oldest are stolen
        chord.push_back(MakeMidiEvent(0x90, static_cast<std::uint8_t>(30 + 2 * i), 127, i * 20));
    synth.send(chord);
    const std::vector<float> s = synth.renderSeconds(2.0);
    EXPECT_LT(Peak(s), 1.0f);
    EXPECT_GT(Rms(s), 0.1);
}

// The pedal holds released notes until it is lifted; all notes off releases
// them even while it is down; all sound off cuts at once.
TEST(SynthControllers, PedalAllNotesOffAndAllSoundOff)
{
    Synth synth(kPad);
    synth.send({Controller(64, 127), NoteOn(60), MakeMidiEvent(0x80, 60, 0, 100)});
    synth.renderSeconds(1.5);
    EXPECT_GT(Rms(synth.render(kBlock)), 0.01);
    synth.send({Controller(64, 0)});
    synth.renderSeconds(2.0);
    EXPECT_EQ(Peak(synth.render(kBlock)), 0.0f);

    synth.send({Controller(64, 127), NoteOn(60), NoteOn(64), MakeMidiEvent(0x80, 64, 0, 100)});
    synth.renderSeconds(1.0);
    synth.send({Controller(123, 0)});
    synth.renderSeconds(0.2);
    EXPECT_GT(Rms(synth.render(100)), 0.001) << "a release, not a cut";
    synth.renderSeconds(3.0);
    EXPECT_EQ(Peak(synth.render(kBlock)), 0.0f);

    synth.send({NoteOn(60)});
    synth.renderSeconds(1.0);
    EXPECT_GT(Rms(synth.render(kBlock)), 0.01);
    synth.send({Controller(120, 0)});
    EXPECT_EQ(Peak(synth.render(kBlock)), 0.0f);
}

// A4 on the organ, the easiest program to measure: pitch bend moves it up to
// two semitones; volume and expression follow the General MIDI curve,
// 40 log10(v/127) dB.
TEST(SynthControllers, PitchBendVolumeAndExpression)
{
    auto render = [](const std::vector<VstMidiEvent>& controllers) {
        Synth synth(kOrgan);
        synth.send({NoteOn(69)});
        synth.send(controllers);
        synth.renderSeconds(0.1);
        return synth.renderSeconds(0.4);
    };
    // Far louder than a semitone either side.
    for (const auto& [hz, s] : {std::pair{440.0, render({})}, {493.9, render({MakeMidiEvent(0xE0, 0x7F, 0x7F)})}}) {
        EXPECT_GT(ToneLevel(s, hz), 10 * ToneLevel(s, hz / 1.0595)) << hz;
        EXPECT_GT(ToneLevel(s, hz), 10 * ToneLevel(s, hz * 1.0595)) << hz;
    }
    const double full = Rms(render({Controller(7, 127)}));
    EXPECT_NEAR(Rms(render({Controller(7, 64)})) / full, 0.254, 0.02);  // -11.9 dB
    EXPECT_NEAR(Rms(render({Controller(7, 127), Controller(11, 64)})) / full, 0.254, 0.02);
    EXPECT_LT(Rms(render({Controller(7, 0)})), full * 1e-4);
}

TEST(SynthThreads, ProgramAndParameterCallsWhileRendering)
{
    Synth synth;
    std::atomic<bool> done{false};
    std::thread sequencer([&] {
        AEffect* e = synth.effect();
        char display[kVstMaxParamStrLen + 1];
        for (int i = 0; !done.load(); ++i) {
            e->dispatcher(e, effSetProgram, 0, i % 8, nullptr, 0);
            e->setParameter(e, i % 4, float(i % 10) / 10.0f);
            e->dispatcher(e, effGetParamDisplay, i % 4, 0, display, 0);
        }
    });
    float peak = 0;
    for (int block = 0; block < 100; ++block) {
        const auto released = static_cast<std::uint8_t>(40 + (block + 20) % 40);
        synth.send({NoteOn(40 + block % 40), MakeMidiEvent(0x80, released, 0, 400), MakeMidiEvent(0xC0, 2, 0, 500)});
        peak = std::max(peak, Peak(synth.render(kBlock)));
    }
    done = true;
    sequencer.join();
    EXPECT_LT(peak, 1.0f);
}

// The editor needs an X server: CTest runs this under xvfb-run as well.

TEST(SynthEditor, DrawsInAChildOfTheHostsWindowAndSurvivesItVanishing)
{
    const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), &XCloseDisplay);
    if (!display)
        GTEST_SKIP() << "no X display";
    Window parent = 0;
    auto makeParent = [&] {
        parent = XCreateSimpleWindow(display.get(), DefaultRootWindow(display.get()), 0, 0, 400, 300, 0, 0, 0);
        XMapWindow(display.get(), parent);
        XSync(display.get(), False);
        return parent;
    };
    // Opens the editor in a window, with the host's Display or without it.
    auto open = [&](Synth& synth, Window window, bool withDisplay = true) {
        return synth.dispatch(effEditOpen, 0, withDisplay ? reinterpret_cast<VstIntPtr>(display.get()) : 0,
                              reinterpret_cast<void*>(static_cast<std::uintptr_t>(window)));
    };
    auto children = [&] {
        Window root = 0, up = 0, *list = nullptr;
        unsigned count = 0;
        XQueryTree(display.get(), parent, &root, &up, &list, &count);
        std::vector<Window> result(list, list + count);
        XFree(list);
        return result;
    };

    auto synth = std::make_unique<Synth>();
    ERect* rect = nullptr;
    ASSERT_EQ(synth->dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    const int width = rect->right - rect->left, height = rect->bottom - rect->top;
    EXPECT_EQ(open(*synth, 0x7FFFFFF), 0);  // no such window
    ASSERT_EQ(open(*synth, makeParent()), 1);
    const std::vector<Window> opened = children();
    ASSERT_EQ(opened.size(), 1u);
    XWindowAttributes attributes{};
    ASSERT_NE(XGetWindowAttributes(display.get(), opened[0], &attributes), 0);
    EXPECT_EQ(attributes.width, width);
    EXPECT_EQ(attributes.height, height);

    // Something is drawn: the picture is not one flat colour.
    bool drawn = false;
    synth->send({NoteOn(60)});
    for (int attempt = 0; attempt < 50 && !drawn; ++attempt) {
        synth->render(kBlock);
        synth->dispatch(effEditIdle);
        XImage* image = XGetImage(display.get(), opened[0], 0, 0, width, height, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        std::set<unsigned long> pixels;
        for (int y = 0; y < height; y += 4)
            for (int x = 0; x < width; x += 2)
                pixels.insert(XGetPixel(image, x, y));
        XDestroyImage(image);
        drawn = pixels.size() >= 3;
        if (!drawn)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(drawn);
    synth->dispatch(effEditClose);
    EXPECT_TRUE(children().empty());

    // Without the host's Display the editor connects through $DISPLAY; the
    // host's window may vanish under it.
    ASSERT_EQ(open(*synth, parent, false), 1);
    EXPECT_EQ(children().size(), 1u);
    XDestroyWindow(display.get(), parent);
    XSync(display.get(), False);
    synth->dispatch(effEditIdle);
    synth->dispatch(effEditClose);

    ASSERT_EQ(open(*synth, makeParent()), 1);
    synth->dispatch(effEditIdle);
    EXPECT_EQ(children().size(), 1u);
    // Closing the instance with the editor still open takes the window away too.
    synth.reset();
    EXPECT_TRUE(children().empty());
}

}  // namespace
