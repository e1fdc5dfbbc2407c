// The real path: MidiControler over RtMidi into a JACK server started for the
// test (dummy driver, no sound card), read back by a small JACK client.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/RtMidiOutputSystem.h"
#include "PlaybackFixture.h"
#include "playback/MidiControler.h"
#include "playback/MusicPlayer.h"
#include "support/CaptureMessages.h"
#include "support/JackTestServer.h"

// libjack's ring buffer (RtMidi's queue to its JACK thread) is single-producer,
// single-consumer and lock-free with its own memory barriers; libjack is not
// instrumented, so ThreadSanitizer sees only its memcpy calls and reports them
// as races.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:jack_ringbuffer_\n";
}

namespace sonrigo {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kSpacing = 20ms;

// A JACK client with one MIDI input that keeps every event with the time its
// cycle was processed (JACK's microsecond clock). The process callback writes
// slots the reader has not been given yet and publishes them through
// `count_`; nothing is allocated on JACK's thread.
class CaptureClient {
public:
    struct Event {
        jack_time_t usecs = 0;
        std::uint32_t size = 0;
        std::array<std::uint8_t, 1024> bytes{};
    };

    static std::unique_ptr<CaptureClient> Open(const std::string& name)
    {
        jack_status_t status{};
        jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (client == nullptr)
            return nullptr;
        auto capture = std::unique_ptr<CaptureClient>(new CaptureClient(client));
        capture->port_ = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (capture->port_ == nullptr || jack_set_process_callback(client, &CaptureClient::Process, capture.get()) != 0 ||
            jack_activate(client) != 0)
            return nullptr;
        return capture;
    }

    ~CaptureClient() { jack_client_close(client_); }
    CaptureClient(const CaptureClient&) = delete;
    CaptureClient& operator=(const CaptureClient&) = delete;

    bool connected() const { return jack_port_connected(port_) > 0; }
    std::size_t count() const { return count_.load(std::memory_order_acquire); }
    bool overflowed() const { return overflowed_.load(); }
    // Valid for i below count().
    const Event& event(std::size_t i) const { return events_[i]; }

private:
    explicit CaptureClient(jack_client_t* client) : client_(client) {}

    static int Process(jack_nframes_t frames, void* arg)
    {
        auto* self = static_cast<CaptureClient*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        const jack_time_t now = jack_get_time();
        std::size_t n = self->count_.load(std::memory_order_relaxed);
        const std::uint32_t events = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < events; ++i) {
            jack_midi_event_t in;
            if (jack_midi_event_get(&in, buffer, i) != 0)
                continue;
            if (n == self->events_.size() || in.size > Event{}.bytes.size()) {
                self->overflowed_.store(true);
                continue;
            }
            Event& out = self->events_[n];
            out.usecs = now;
            out.size = static_cast<std::uint32_t>(in.size);
            std::copy(in.buffer, in.buffer + in.size, out.bytes.begin());
            self->count_.store(++n, std::memory_order_release);
        }
        return 0;
    }

    jack_client_t* client_;
    jack_port_t* port_ = nullptr;
    std::array<Event, 128> events_{};
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> overflowed_{false};
};

double MsBetween(const CaptureClient::Event& from, const CaptureClient::Event& to)
{
    return (static_cast<double>(to.usecs) - static_cast<double>(from.usecs)) / 1000.0;
}

bool WaitUntil(const auto& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return condition();
}

TEST(JackMidiOutput, MessagesReachAJackClientInOrderAndSpacedAsSent)
{
    test::JackTestServer jack("sonrigo-audio-unused", 1);
    if (!jack.up())
        GTEST_SKIP() << jack.skipReason();
    const std::string captureName = "sonrigo-capture";
    std::unique_ptr<CaptureClient> capture = CaptureClient::Open(captureName);
    ASSERT_NE(capture, nullptr);

    auto system = std::make_shared<RtMidiOutputSystem>();
    system->setPreferredPort(captureName);
    InstallMidiOutputSystem(system);

    constexpr std::size_t kSent = 5;
    constexpr std::size_t kResets = 16 * 3;  // three controllers on every channel
    test::CaptureMessages messages;
    Bytes longSysEx = {0xF0, 0x82, 0x2C};  // 300 more bytes
    for (int i = 0; i < 299; ++i)
        longSysEx.push_back(static_cast<std::uint8_t>(i & 0x7F));
    longSysEx.push_back(0xF7);
    std::chrono::steady_clock::duration closeTook{};
    {
        MidiControler device(-1);
        ASSERT_TRUE(device.isOpen());
        // Opening connects the ports; the capture side sees it from the next cycle on.
        ASSERT_TRUE(WaitUntil([&] { return capture->connected(); }, 3000ms));
        EXPECT_TRUE(device.SendNoteOn(60, 100, 0));
        std::this_thread::sleep_for(kSpacing);
        EXPECT_TRUE(device.SendProgramChange(5, 3));
        std::this_thread::sleep_for(kSpacing);
        EXPECT_TRUE(device.SendSysEx(static_cast<std::int32_t>(longSysEx.size()), longSysEx.data()));
        std::this_thread::sleep_for(kSpacing);
        EXPECT_TRUE(device.SendShortMessage(0x40, 0x07, 0xB2));
        std::this_thread::sleep_for(kSpacing);
        EXPECT_TRUE(device.SendNoteOff(60, 0));
        EXPECT_TRUE(WaitUntil([&] { return capture->count() >= kSent; }, 5000ms));
        const auto closeStart = std::chrono::steady_clock::now();
        device.Close();
        closeTook = std::chrono::steady_clock::now() - closeStart;
    }
    InstallMidiOutputSystem(nullptr);
    EXPECT_TRUE(messages.take().empty());

    WaitUntil([&] { return capture->count() >= kSent + kResets; }, 5000ms);
    ASSERT_GE(capture->count(), kSent);
    EXPECT_FALSE(capture->overflowed());
    // The bytes of the events captured from first up to end.
    const auto captured = [&capture](std::size_t first, std::size_t end) {
        std::vector<Bytes> bytes;
        for (std::size_t i = first; i < end; ++i)
            bytes.emplace_back(capture->event(i).bytes.begin(), capture->event(i).bytes.begin() + capture->event(i).size);
        return bytes;
    };
    const std::vector<Bytes> received = captured(0, capture->count());
    Bytes sysExSent = {0xF0};
    sysExSent.insert(sysExSent.end(), longSysEx.begin() + 3, longSysEx.end());
    const std::vector<Bytes> sent = {{0x90, 0x3C, 0x64}, {0xC3, 0x05}, sysExSent, {0xB2, 0x07, 0x40}, {0x80, 0x3C, 0x00}};
    EXPECT_EQ(std::vector<Bytes>(received.begin(), received.begin() + kSent), sent);

    // The four 20 ms pauses show in when the messages arrived. Wall-clock
    // time, not frames: on a loaded machine the synchronous server's cycles
    // run late and frames fall behind. A stall may merge neighbours into one
    // cycle, so only the whole span is checked, with a wide margin.
    const double span = MsBetween(capture->event(0), capture->event(kSent - 1));
    EXPECT_GE(span, 40.0);
    EXPECT_LE(span, 5000.0);

    // Close released every channel before it closed the port. RtMidi's JACK
    // close waits at most a second for its queue to drain and then drops the
    // rest: only when Close returned sooner must every reset have arrived.
    std::vector<Bytes> resets;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        for (std::uint8_t controller : kResetControllers)
            resets.push_back({static_cast<std::uint8_t>(0xB0 | channel), controller, 0x00});
    }
    const std::vector<Bytes> afterSent(received.begin() + kSent, received.end());
    if (closeTook < 900ms) {
        EXPECT_EQ(afterSent, resets);
    } else {
        ASSERT_LE(afterSent.size(), resets.size());
        EXPECT_EQ(afterSent, std::vector<Bytes>(resets.begin(), resets.begin() + afterSent.size()));
    }

    // A short song through the play controller on the real timer thread:
    // General MIDI System On, then four notes a sixteenth apart at 240 bpm
    // (62.5 ms), each released at the next one's start.
    const std::size_t before = capture->count();
    InstallMidiOutputSystem(system);
    auto song = test::MakeSong({test::Tempo(0, 250000), test::NoteOn(0, 60), test::NoteOff(24, 60),
                                test::NoteOn(0, 62), test::NoteOff(24, 62), test::NoteOn(0, 64),
                                test::NoteOff(24, 64), test::NoteOn(0, 65), test::NoteOff(24, 65)});
    std::atomic<bool> ended{false};
    PlaybackParameters parameters;
    parameters.song = song.get();
    parameters.onEnd = [&ended] { ended.store(true); };
    parameters.onEvent = [](std::int32_t, std::int32_t, MidiEvent*) {};
    MusicPlayer::instance().startWorker(parameters);
    EXPECT_TRUE(WaitUntil([&] { return ended.load(); }, 10s));
    MusicPlayer::instance().shutdown();
    InstallMidiOutputSystem(nullptr);
    EXPECT_EQ(messages.take(), std::vector<std::string>{});

    constexpr std::size_t kSong = 1 + 8;
    EXPECT_TRUE(WaitUntil([&] { return capture->count() >= before + kSong; }, 5000ms));
    ASSERT_GE(capture->count(), before + kSong);
    std::vector<Bytes> songBytes = {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}};
    for (std::uint8_t note : {60, 62, 64, 65})
        songBytes.insert(songBytes.end(), {{0x90, note, 100}, {0x80, note, 0}});
    EXPECT_EQ(captured(before, before + kSong), songBytes);
    // Three sixteenths from the first note to the last: 187.5 ms, within a
    // margin for JACK's cycles and a loaded machine.
    const double notes = MsBetween(capture->event(before + 1), capture->event(before + 7));
    EXPECT_GE(notes, 150.0);
    EXPECT_LE(notes, 1000.0);
}

}  // namespace
}  // namespace sonrigo
