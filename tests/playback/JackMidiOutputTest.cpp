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
#include <vector>

#include "PlaybackFixture.h"
#include "common/ScopedMessageCapture.h"
#include "platform/RtMidiOutputSystem.h"
#include "playback/MusicPlayer.h"
#include "song/MidiEvent.h"
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

    explicit CaptureClient(const std::string& name)
        : client_(jack_client_open(name.c_str(), JackNoStartServer, nullptr))
    {
        port_ = client_ != nullptr ? jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0)
                                   : nullptr;
        ok_ = port_ != nullptr && jack_set_process_callback(client_, &CaptureClient::Process, this) == 0 &&
              jack_activate(client_) == 0;
    }
    ~CaptureClient()
    {
        if (client_ != nullptr)
            jack_client_close(client_);
    }

    bool ok() const { return ok_; }
    std::size_t count() const { return count_.load(std::memory_order_acquire); }
    bool overflowed() const { return overflowed_.load(); }
    // Valid for i below count().
    const Event& event(std::size_t i) const { return events_[i]; }

private:
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
    bool ok_ = false;
    std::array<Event, 128> events_{};
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> overflowed_{false};
};

// A song through the play controller on the real timer thread: General MIDI
// System On, a program, a controller and an exclusive of 300 bytes, then half
// a second later four notes a sixteenth apart at 240 bpm (62.5 ms), each
// released at the next one's start; at its end every channel is released
// before the port closes. (The sequencer keeps each record to its time from
// the start: what the new port's connection holds up at first comes bunched.)
TEST(JackMidiOutput, ASongReachesAJackClientInOrderAndInTimeThenEveryChannelIsReleased)
{
    test::JackTestServer jack("sonrigo-audio-unused", 1);
    if (!jack.up())
        GTEST_SKIP() << jack.skipReason();
    const std::string captureName = "sonrigo-capture";
    CaptureClient capture(captureName);
    ASSERT_TRUE(capture.ok());
    auto system = std::make_shared<RtMidiOutputSystem>();
    system->setPreferredPort(captureName);
    InstallMidiOutputSystem(system);

    ScopedMessageCapture messages;
    Bytes longSysEx = {0xF0, 0x82, 0x2C};  // 300 more bytes, counted in two bytes
    for (int i = 0; i < 299; ++i)
        longSysEx.push_back(static_cast<std::uint8_t>(i & 0x7F));
    longSysEx.push_back(0xF7);
    std::vector<test::SongEvent> events = {
        test::Tempo(0, 250000), test::Program(0, 5, 3), test::Control(0, 7, 0x40, 2),
        {.kind = EventKind::SysEx, .channel = kNoChannel, .payload = longSysEx}};
    for (std::int32_t note : {60, 62, 64, 65})
        events.insert(events.end(), {test::NoteOn(note == 60 ? 192 : 0, note), test::NoteOff(24, note)});
    auto song = test::MakeSong(events);
    // The port closes between the end and the release.
    std::atomic<jack_time_t> endedAtUs{0}, releasedAtUs{0};
    PlaybackParameters parameters;
    parameters.song = song.get();
    parameters.onEnd = [&] { endedAtUs.store(jack_get_time()); };
    parameters.onReleased = [&] { releasedAtUs.store(jack_get_time()); };
    parameters.onEvent = [](std::int32_t, std::int32_t, MidiEvent*) {};
    MusicPlayer::instance().startWorker(parameters);
    EXPECT_TRUE(test::WaitInRealTime([&] { return releasedAtUs.load() != 0; }));
    MusicPlayer::instance().shutdown();
    InstallMidiOutputSystem(nullptr);
    EXPECT_EQ(messages.take(), std::vector<std::string>{});

    std::vector<Bytes> sent = {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0xC3, 0x05}, {0xB2, 0x07, 0x40}, {0xF0}};
    sent.back().insert(sent.back().end(), longSysEx.begin() + 3, longSysEx.end());
    for (std::uint8_t note : {60, 62, 64, 65})
        sent.insert(sent.end(), {{0x90, note, 100}, {0x80, note, 0}});
    std::vector<Bytes> resets;
    for (std::uint8_t channel = 0; channel < 16; ++channel)
        for (std::uint8_t controller : kResetControllers)
            resets.push_back({static_cast<std::uint8_t>(0xB0 | channel), controller, 0x00});
    test::WaitInRealTime([&] { return capture.count() >= sent.size() + resets.size(); }, 5000ms);
    ASSERT_GE(capture.count(), sent.size());
    EXPECT_FALSE(capture.overflowed());
    std::vector<Bytes> received;
    for (std::size_t i = 0; i < capture.count(); ++i) {
        const CaptureClient::Event& event = capture.event(i);
        received.emplace_back(event.bytes.begin(), event.bytes.begin() + event.size);
    }
    EXPECT_EQ(std::vector<Bytes>(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(sent.size())), sent);

    // Three sixteenths from the first note to the last: 187.5 ms. Wall-clock
    // time, not frames, within a margin for JACK's cycles and a loaded machine.
    const jack_time_t notesUs = capture.event(10).usecs - capture.event(4).usecs;
    EXPECT_GE(notesUs, 150'000u);
    EXPECT_LE(notesUs, 1'000'000u);

    // RtMidi's JACK close waits at most a second for its queue to drain and
    // then drops the rest: only when the close took less must every reset
    // have arrived.
    const std::vector<Bytes> afterSong(received.begin() + static_cast<std::ptrdiff_t>(sent.size()), received.end());
    if (releasedAtUs.load() - endedAtUs.load() < 900'000) {
        EXPECT_EQ(afterSong, resets);
    } else {
        ASSERT_LE(afterSong.size(), resets.size());
        EXPECT_TRUE(std::equal(afterSong.begin(), afterSong.end(), resets.begin()));
    }
}

}  // namespace
}  // namespace sonrigo
