// The built sonrigo-synth.so, loaded as a host loads it and rendered at the
// host's block length (882 frames at 44100 Hz).

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <numbers>
#include <set>
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

VstIntPtr HostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct MidiMessage {
    int frame;
    std::uint8_t status, data1, data2;
};

// The library, opened once for the whole run as a host keeps it.
void* Library()
{
    static void* handle = dlopen(SONRIGO_SYNTH_PATH, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

// One opened and resumed instance on a program, closed as a host closes it.
class Synth {
public:
    explicit Synth(int program = 0)
    {
        void* library = Library();
        if (library == nullptr)
            throw std::runtime_error(dlerror());
        auto entry = reinterpret_cast<PluginEntryProc>(dlsym(library, "VSTPluginMain"));
        if (entry == nullptr)
            throw std::runtime_error("no VSTPluginMain");
        effect_ = entry(&HostCallback);
        if (effect_ == nullptr || effect_->magic != kEffectMagic)
            throw std::runtime_error("no instance");
        dispatch(effOpen);
        dispatch(effSetSampleRate, 0, 0, nullptr, kRate);
        dispatch(effSetBlockSize, 0, kBlock);
        dispatch(effMainsChanged, 0, 1);
        if (program != 0)
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

    void send(const std::vector<MidiMessage>& messages)
    {
        std::vector<VstMidiEvent> events;
        // VstEvents followed by room for every pointer, as hosts lay it out.
        std::vector<VstIntPtr> storage(2 + messages.size() + 2);
        auto* list = reinterpret_cast<VstEvents*>(storage.data());
        list->numEvents = static_cast<VstInt32>(messages.size());
        for (const MidiMessage& m : messages)
            events.push_back(MakeMidiEvent(m.status, m.data1, m.data2, m.frame));
        for (std::size_t i = 0; i < events.size(); ++i)
            list->events[i] = reinterpret_cast<VstEvent*>(&events[i]);
        dispatch(effProcessEvents, 0, 0, list);
    }

    // Renders whole blocks and returns the left channel, checking that the
    // right one carries the same signal.
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

MidiMessage NoteOn(int note, int velocity = 100, int frame = 0)
{
    return {frame, 0x90, static_cast<std::uint8_t>(note), static_cast<std::uint8_t>(velocity)};
}
MidiMessage NoteOff(int note, int frame = 0)
{
    return {frame, 0x80, static_cast<std::uint8_t>(note), 0};
}
MidiMessage Controller(int number, int value, int frame = 0)
{
    return {frame, 0xB0, static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(value)};
}

double Rms(const std::vector<float>& s, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    to = std::min(to, s.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

float Peak(const std::vector<float>& s)
{
    float peak = 0;
    for (float x : s)
        peak = std::max(peak, std::fabs(x));
    return peak;
}

bool AllFinite(const std::vector<float>& s)
{
    return std::all_of(s.begin(), s.end(), [](float x) { return std::isfinite(x); });
}

std::size_t FirstNonZero(const std::vector<float>& s)
{
    return static_cast<std::size_t>(std::find_if(s.begin(), s.end(), [](float x) { return x != 0.0f; }) - s.begin());
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

std::vector<float> Slice(const std::vector<float>& s, double fromSeconds, double toSeconds)
{
    return {s.begin() + static_cast<long>(fromSeconds * kRate), s.begin() + static_cast<long>(toSeconds * kRate)};
}

constexpr int kPluck = 2;
constexpr int kOrgan = 3;  // steady partials: the easiest program to measure pitch on

// ---------------------------------------------------------------------------

// What a host relies on: the flags, a second entry point, programs kept in
// range, names and values cut to their limits, parameters kept per program.
TEST(SynthPlugin, ProgramsAndParametersAsAHostUsesThem)
{
    Synth synth;
    AEffect* e = synth.effect();
    EXPECT_EQ(e->flags & (effFlagsIsSynth | effFlagsCanReplacing | effFlagsHasEditor),
              effFlagsIsSynth | effFlagsCanReplacing | effFlagsHasEditor);
    EXPECT_EQ(synth.dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), 1);
    // Older hosts look for "main"; it makes instances too.
    auto mainEntry = reinterpret_cast<PluginEntryProc>(dlsym(Library(), "main"));
    ASSERT_NE(mainEntry, nullptr);
    AEffect* other = mainEntry(&HostCallback);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, e);
    other->dispatcher(other, effClose, 0, 0, nullptr, 0);

    std::set<std::string> names;
    for (int i = 0; i < e->numPrograms; ++i) {
        char buffer[kVstMaxProgNameLen + 1 + 16];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(synth.dispatch(effGetProgramNameIndexed, i, 0, buffer), 1);
        names.insert(std::string(buffer, strnlen(buffer, sizeof buffer)));
        EXPECT_LE(names.rbegin()->size(), kVstMaxProgNameLen);
    }
    EXPECT_EQ(names.size(), std::size_t(e->numPrograms));
    EXPECT_EQ(synth.dispatch(effGetProgramNameIndexed, e->numPrograms, 0, nullptr), 0);
    synth.dispatch(effSetProgram, 0, 4);
    synth.dispatch(effSetProgram, 0, 99);  // a program the synth does not have
    EXPECT_EQ(synth.dispatch(effGetProgram), 4);
    const std::string program5 = synth.text(effGetProgramNameIndexed, 5);
    synth.dispatch(effSetProgramName, 0, 0, const_cast<char*>("A name far longer than twenty-four characters"));
    EXPECT_EQ(synth.text(effGetProgramName), std::string("A name far longer than twenty-four characters", 24));
    EXPECT_EQ(synth.text(effGetProgramNameIndexed, 5), program5);

    for (int i = 0; i < e->numParams; ++i) {
        EXPECT_LE(synth.text(effGetParamName, i).size(), kVstMaxParamStrLen);
        EXPECT_LE(synth.text(effGetParamDisplay, i).size(), kVstMaxParamStrLen);
    }
    synth.dispatch(effSetProgram, 0, 0);
    e->setParameter(e, 0, 7.0f);
    EXPECT_FLOAT_EQ(e->getParameter(e, 0), 1.0f);
    e->setParameter(e, 0, 0.0f);
    EXPECT_EQ(synth.text(effGetParamDisplay, 0), "-inf");
    // Longer attack values display longer times.
    e->setParameter(e, 1, 0.2f);
    const double shortAttack = std::atof(synth.text(effGetParamDisplay, 1).c_str());
    e->setParameter(e, 1, 0.8f);
    EXPECT_GT(std::atof(synth.text(effGetParamDisplay, 1).c_str()), shortAttack * 10);
    synth.dispatch(effSetProgram, 0, 1);
    EXPECT_NE(e->getParameter(e, 0), 0.0f);
    synth.dispatch(effSetProgram, 0, 0);
    EXPECT_FLOAT_EQ(e->getParameter(e, 0), 0.0f);
}

// ---------------------------------------------------------------------------

TEST(SynthSound, EveryProgramSoundsCleanlyAndFallsSilentAfterItsRelease)
{
    for (int program = 0; program < 8; ++program) {
        SCOPED_TRACE("program " + std::to_string(program));
        Synth synth(program);
        const double releaseMs = std::atof(synth.text(effGetParamDisplay, 2).c_str());
        synth.send({NoteOn(60, 100)});
        const std::vector<float> held = synth.renderSeconds(1.0);
        EXPECT_TRUE(AllFinite(held));
        EXPECT_GT(Rms(held), 0.01);
        EXPECT_LT(Peak(held), 0.5f) << "one note leaves headroom";

        synth.send({NoteOff(60)});
        // The release is the time to fall 60 dB; the voice ends at -80 dB.
        const std::vector<float> tail = synth.renderSeconds(releaseMs * 1.5 / 1000 + 0.05);
        EXPECT_TRUE(AllFinite(tail));
        const std::vector<float> after = synth.render(kBlock);
        EXPECT_EQ(Peak(after), 0.0f);
    }
}

TEST(SynthSound, NotesSoundAtTheirPitchAndPitchBendMovesThemTwoSemitones)
{
    Synth synth(kOrgan);
    synth.send({NoteOn(69, 100)});
    const std::vector<float> a = Slice(synth.renderSeconds(0.5), 0.1, 0.5);
    EXPECT_GT(ToneLevel(a, 440.0), 10 * ToneLevel(a, 415.3));
    EXPECT_GT(ToneLevel(a, 440.0), 10 * ToneLevel(a, 466.2));

    synth.send({{0, 0xE0, 0x7F, 0x7F}});  // full bend up
    const std::vector<float> up = Slice(synth.renderSeconds(0.5), 0.1, 0.5);
    EXPECT_GT(ToneLevel(up, 493.9), 10 * ToneLevel(up, 440.0));
    EXPECT_GT(ToneLevel(up, 493.9), 10 * ToneLevel(up, 523.3));
}

TEST(SynthSound, HighNotesStayBandLimited)
{
    // The pluck's saw and square at C7 (2093 Hz) with the filter wide open.
    // Harmonics 11 to 20 lie above the Nyquist frequency; what folds back of
    // them lands between the real harmonics. Band-limited oscillators keep
    // it about 30 dB down, naive ones only 20 dB.
    Synth synth(kPluck);
    synth.effect()->setParameter(synth.effect(), 3, 1.0f);
    synth.send({NoteOn(96, 127)});
    const std::vector<float> s = Slice(synth.renderSeconds(0.3), 0.02, 0.3);
    const double fundamental = ToneLevel(s, 2093.0);
    ASSERT_GT(fundamental, 0.01);
    double folded = 0;
    for (int harmonic = 11; harmonic <= 20; ++harmonic)
        folded += ToneLevel(s, std::fabs(kRate - harmonic * 2093.0));
    EXPECT_LT(folded, 0.15 * fundamental);
}

TEST(SynthSound, EventsTakeEffectAtTheirFrameWithinTheBlock)
{
    Synth synth;
    synth.send({NoteOn(60, 100, 300)});
    const std::vector<float> block = synth.render(kBlock);
    const std::size_t onset = FirstNonZero(block);
    EXPECT_GE(onset, 300u);
    EXPECT_LE(onset, 302u);  // the oscillators start at phase zero

    // Out of order in the list, and a frame beyond the block: each still
    // lands, in frame order, the late one at the block's end.
    Synth other;
    other.send({NoteOn(64, 100, 600), NoteOn(67, 100, 100), NoteOn(72, 100, 5000)});
    const std::vector<float> b = other.render(kBlock);
    EXPECT_LE(FirstNonZero(b), 102u);
    EXPECT_GE(FirstNonZero(b), 100u);
    Synth reference;
    reference.send({NoteOn(67, 100, 100), NoteOn(64, 100, 600), NoteOn(72, 100, kBlock - 1)});
    const std::vector<float> r = reference.render(2 * kBlock);
    const std::vector<float> b2 = other.render(kBlock);
    std::vector<float> both = b;
    both.insert(both.end(), b2.begin(), b2.end());
    ASSERT_EQ(both.size(), r.size());
    for (std::size_t i = 0; i < r.size(); ++i)
        ASSERT_FLOAT_EQ(both[i], r[i]) << "frame " << i;
}

TEST(SynthSound, ThirtyTwoLoudNotesAndMoreNeverClip)
{
    Synth synth(1);
    synth.effect()->setParameter(synth.effect(), 0, 1.0f);  // +6 dB
    synth.send({Controller(7, 127), Controller(11, 127)});
    std::vector<MidiMessage> chord;
    for (int i = 0; i < 40; ++i)  // more notes than voices: the oldest are stolen
        chord.push_back(NoteOn(30 + 2 * i, 127, i * 20));
    synth.send(chord);
    const std::vector<float> s = synth.renderSeconds(2.0);
    EXPECT_TRUE(AllFinite(s));
    EXPECT_LT(Peak(s), 1.0f);
    EXPECT_GT(Rms(s), 0.1);

    synth.send({Controller(123, 0)});
    synth.renderSeconds(5.0);
    EXPECT_EQ(Peak(synth.render(kBlock)), 0.0f);
}

TEST(SynthSound, ProgramChangesChangeTheSoundWhicheverWayTheyArrive)
{
    auto render = [](auto select) {
        Synth synth;
        select(synth);
        synth.send({NoteOn(60, 100)});
        return synth.renderSeconds(0.5);
    };
    const auto piano = render([](Synth&) {});
    const auto organ = render([](Synth& s) { s.dispatch(effSetProgram, 0, kOrgan); });
    const auto organByMidi = render([](Synth& s) { s.send({{0, 0xC0, kOrgan, 0}}); });
    double difference = 0;
    for (std::size_t i = 0; i < piano.size(); ++i)
        difference += double(piano[i] - organ[i]) * (piano[i] - organ[i]);
    EXPECT_GT(std::sqrt(difference / double(piano.size())), 0.3 * Rms(organ));
    EXPECT_EQ(organ, organByMidi);
}

TEST(SynthSound, TwoInstancesRenderIndependently)
{
    Synth a, b;
    a.send({NoteOn(60)});
    for (int block = 0; block < 10; ++block) {
        EXPECT_GT(Rms(a.render(kBlock)), 0.0);
        EXPECT_EQ(Peak(b.render(kBlock)), 0.0f);
    }
    a.dispatch(effSetProgram, 0, 5);
    EXPECT_EQ(b.dispatch(effGetProgram), 0);
}

TEST(SynthSound, TheOldAccumulatingProcessAddsTheSameSignal)
{
    Synth replacing, accumulating;
    replacing.send({NoteOn(60, 100, 10)});
    accumulating.send({NoteOn(60, 100, 10)});
    const std::vector<float> expected = replacing.render(kBlock);
    std::vector<float> left(kBlock, 0.5f), right(kBlock, 0.5f);
    float* outputs[2] = {left.data(), right.data()};
    AEffect* e = accumulating.effect();
    e->process(e, nullptr, outputs, kBlock);
    for (int i = 0; i < kBlock; ++i) {
        ASSERT_FLOAT_EQ(left[i], 0.5f + expected[i]) << "frame " << i;
        ASSERT_FLOAT_EQ(right[i], 0.5f + expected[i]) << "frame " << i;
    }
}

// ---------------------------------------------------------------------------

TEST(SynthControllers, SustainPedalHoldsReleasedNotesUntilLifted)
{
    Synth synth(kOrgan);  // organ notes do not decay while held
    synth.send({Controller(64, 127), NoteOn(60), NoteOff(60, 100)});
    synth.renderSeconds(1.0);
    EXPECT_GT(Rms(synth.render(kBlock)), 0.01);
    synth.send({Controller(64, 0)});
    synth.renderSeconds(0.5);
    EXPECT_EQ(Peak(synth.render(kBlock)), 0.0f);
}

TEST(SynthControllers, AllNotesOffReleasesAndAllSoundOffCutsAtOnce)
{
    Synth synth(1);  // the pad's release is over a second long
    synth.send({Controller(64, 127), NoteOn(60), NoteOn(64)});
    synth.renderSeconds(1.0);
    synth.send({Controller(123, 0)});
    const std::vector<float> releasing = synth.renderSeconds(0.2);
    EXPECT_GT(Rms(releasing, releasing.size() - 100), 0.001) << "a release, not a cut";
    synth.renderSeconds(3.0);
    EXPECT_EQ(Peak(synth.render(kBlock)), 0.0f);

    synth.send({NoteOn(60)});
    synth.renderSeconds(1.0);
    synth.send({Controller(120, 0, 400)});
    const std::vector<float> cut = synth.render(kBlock);
    EXPECT_GT(Rms(cut, 0, 400), 0.01);
    EXPECT_EQ(Peak(std::vector<float>(cut.begin() + 400, cut.end())), 0.0f);
}

TEST(SynthControllers, VolumeAndExpressionScaleTheOutput)
{
    auto level = [](std::vector<MidiMessage> controllers) {
        Synth synth(kOrgan);
        controllers.push_back(NoteOn(60));
        synth.send(controllers);
        return Rms(Slice(synth.renderSeconds(0.5), 0.2, 0.5));
    };
    const double full = level({Controller(7, 127)});
    EXPECT_NEAR(level({Controller(7, 64)}) / full, 0.254, 0.02);  // 40 log10(64/127): -11.9 dB
    EXPECT_NEAR(level({Controller(7, 127), Controller(11, 64)}) / full, 0.254, 0.02);
    EXPECT_LT(level({Controller(7, 0)}), full * 1e-4);
}

TEST(SynthThreads, ProgramAndParameterCallsWhileRendering)
{
    Synth synth;
    std::atomic<bool> done{false};
    std::thread sequencer([&] {
        AEffect* e = synth.effect();
        char name[kVstMaxProgNameLen + 1];
        for (int i = 0; !done.load(); ++i) {
            e->dispatcher(e, effSetProgram, 0, i % 8, nullptr, 0);
            e->dispatcher(e, effGetProgramName, 0, 0, name, 0);
            e->setParameter(e, i % 4, float(i % 10) / 10.0f);
            e->dispatcher(e, effGetParamDisplay, i % 4, 0, name, 0);
            e->dispatcher(e, effSetProgramName, 0, 0, name, 0);
        }
    });
    std::vector<float> all;
    for (int block = 0; block < 100; ++block) {
        synth.send({NoteOn(40 + block % 40, 100), NoteOff(40 + (block + 20) % 40, 400), {500, 0xC0, 2, 0}});
        const auto s = synth.render(kBlock);
        all.insert(all.end(), s.begin(), s.end());
    }
    done = true;
    sequencer.join();
    EXPECT_TRUE(AllFinite(all));
    EXPECT_LT(Peak(all), 1.0f);
}

// ---------------------------------------------------------------------------
// The editor needs an X server: CTest runs these under xvfb-run as well.

class SynthEditor : public ::testing::Test {
protected:
    void SetUp() override
    {
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr)
            GTEST_SKIP() << "no X display";
        parent_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 400, 300, 0, 0, 0);
        XMapWindow(display_, parent_);
        XSync(display_, False);
    }
    void TearDown() override
    {
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }

    std::vector<Window> children()
    {
        Window root = 0, parent = 0, *list = nullptr;
        unsigned count = 0;
        std::vector<Window> result;
        if (XQueryTree(display_, parent_, &root, &parent, &list, &count) != 0) {
            result.assign(list, list + count);
            XFree(list);
        }
        return result;
    }
    void* parentHandle() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(parent_)); }

    Display* display_ = nullptr;
    Window parent_ = 0;
};

TEST_F(SynthEditor, DrawsInAChildWindowOfTheHostsWindowAndRemovesIt)
{
    Synth synth;
    ERect* rect = nullptr;
    ASSERT_EQ(synth.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 360);
    EXPECT_EQ(rect->bottom - rect->top, 200);

    ASSERT_EQ(synth.dispatch(effEditOpen, 0, reinterpret_cast<VstIntPtr>(display_), parentHandle()), 1);
    const std::vector<Window> opened = children();
    ASSERT_EQ(opened.size(), 1u);
    XWindowAttributes attributes{};
    ASSERT_NE(XGetWindowAttributes(display_, opened[0], &attributes), 0);
    EXPECT_EQ(attributes.width, 360);
    EXPECT_EQ(attributes.height, 200);

    // Something is drawn: the picture is not one flat colour.
    bool drawn = false;
    synth.send({NoteOn(60)});
    for (int attempt = 0; attempt < 50 && !drawn; ++attempt) {
        synth.render(kBlock);
        synth.dispatch(effEditIdle);
        XImage* image = XGetImage(display_, opened[0], 0, 0, 360, 200, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        std::set<unsigned long> pixels;
        for (int y = 0; y < 200; y += 4)
            for (int x = 0; x < 360; x += 2)
                pixels.insert(XGetPixel(image, x, y));
        XDestroyImage(image);
        drawn = pixels.size() >= 3;
        if (!drawn)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(drawn);

    synth.dispatch(effEditClose);
    EXPECT_TRUE(children().empty());

    // Without the host's Display the editor connects through $DISPLAY.
    ASSERT_EQ(synth.dispatch(effEditOpen, 0, 0, parentHandle()), 1);
    EXPECT_EQ(children().size(), 1u);
    synth.dispatch(effEditClose);
    EXPECT_TRUE(children().empty());
}

TEST_F(SynthEditor, SurvivesTheHostsWindowVanishing)
{
    auto synth = std::make_unique<Synth>();
    const auto bogus = reinterpret_cast<void*>(std::uintptr_t{0x7FFFFFF});
    EXPECT_EQ(synth->dispatch(effEditOpen, 0, reinterpret_cast<VstIntPtr>(display_), bogus), 0);

    ASSERT_EQ(synth->dispatch(effEditOpen, 0, reinterpret_cast<VstIntPtr>(display_), parentHandle()), 1);
    XDestroyWindow(display_, parent_);
    XSync(display_, False);
    synth->dispatch(effEditIdle);
    synth->dispatch(effEditIdle);
    synth->dispatch(effEditClose);

    parent_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 400, 300, 0, 0, 0);
    XMapWindow(display_, parent_);
    XSync(display_, False);
    ASSERT_EQ(synth->dispatch(effEditOpen, 0, reinterpret_cast<VstIntPtr>(display_), parentHandle()), 1);
    synth->dispatch(effEditIdle);
    EXPECT_EQ(children().size(), 1u);
    // Closing the instance with the editor still open takes the window away too.
    synth.reset();
    EXPECT_TRUE(children().empty());
}

}  // namespace
