#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "PlaybackFixture.h"
#include "common/CapturedMessageSink.h"
#include "playback/MusicPlayer.h"
#include "playback/SequencerState.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"
#include "support/Gate.h"

namespace sonrigo::test {
namespace {

using Kind = RecordingMidiOutput::Kind;

class MusicPlayerTest : public PlaybackTest {
protected:
    explicit MusicPlayerTest(int ports = 1, Clock clock = Clock::Virtual)
        : PlaybackTest(ports, clock), loader_(std::string(SONRIGO_DEMO_MIDI))
    {
        loader_.Flatten();
        messages_.take();  // the demo has no master volume, and the loader says so
    }
    ~MusicPlayerTest() override { MusicPlayer::instance().shutdown(); }

    MidiF0Data& demo() { return *loader_.playable(); }
    void play()
    {
        demo().Play([this] { ended(); },
                    [this](std::int32_t, std::int32_t tick, MidiEvent* record) {
                        if (record == nullptr)
                            firstTick_.store(tick);
                        if (events_.fetch_add(1) + 1 == holdAtEvent_ && gate_ != nullptr) {
                            gate_->pass();
                            heldKind_.store(record->kind);  // the song must still be there
                        }
                    },
                    [this] { released(); });
    }
    void ended()
    {
        ends_.fetch_add(1);
        onTestThread_.store(std::this_thread::get_id() == testThread_);
    }
    void released()
    {
        const auto records = output_->records();
        closedAtRelease_.store(!records.empty() && records.back().kind == Kind::Close);
        endsAtRelease_.store(ends_.load());
        releases_.fetch_add(1);
    }
    // Parameters for a worker whose ends and releases the fixture counts.
    PlaybackParameters parametersFor(MidiF0Data& song)
    {
        PlaybackParameters parameters;
        parameters.song = &song;
        parameters.onEvent = [](std::int32_t, std::int32_t, MidiEvent*) {};
        parameters.onEnd = [this] { ended(); };
        parameters.onReleased = [this] { released(); };
        return parameters;
    }

    MidiFileLoader loader_;
    const std::thread::id testThread_ = std::this_thread::get_id();
    std::atomic<int> ends_{0};
    std::atomic<int> events_{0};
    std::atomic<int> firstTick_{-1};
    std::atomic<bool> onTestThread_{false};
    std::atomic<int> releases_{0};
    std::atomic<int> endsAtRelease_{-1};
    std::atomic<bool> closedAtRelease_{false};
    // The n-th per-event call (counting Play's announcement) waits at the gate.
    int holdAtEvent_ = 0;
    Gate* gate_ = nullptr;
    std::atomic<std::int32_t> heldKind_{-1};
};

class NoMidiDeviceTest : public MusicPlayerTest {
protected:
    NoMidiDeviceTest() : MusicPlayerTest(0) {}
};

class RealTimeMusicPlayerTest : public MusicPlayerTest {
protected:
    RealTimeMusicPlayerTest() : MusicPlayerTest(1, Clock::Real) {}
};

// A message box the user has not answered yet.
struct GatedSink final : MessageSink {
    explicit GatedSink(Gate& g) : gate(g) {}
    void show(std::string_view text) override
    {
        texts.show(text);
        gate.pass();
    }
    Gate& gate;
    CapturedMessageSink texts;
};

TEST_F(MusicPlayerTest, ASongPlayedToItsEndCallsTheEndCallbackOnceOnTheWorkerThenClosesTheOutput)
{
    play();
    EXPECT_EQ(firstTick_.load(), 0);  // Play announces the ticks cut before any record
    EXPECT_TRUE(timers_->runUntil([] { return MusicPlayer::instance().idle(); }, 600'000));
    EXPECT_EQ(std::tuple(ends_.load(), releases_.load(), endsAtRelease_.load()), std::tuple(1, 1, 1));
    EXPECT_FALSE(onTestThread_.load());
    EXPECT_EQ(events_.load(), demo().playbackCopy()->track().count() + 1);
    EXPECT_TRUE(closedAtRelease_.load());
    EXPECT_TRUE(messages_.take().empty());
}

TEST_F(MusicPlayerTest, StoppingSkipsTheEndCallbackAndTakesTheSettlingSecond)
{
    play();
    timers_->runFor(1000);
    const std::int64_t stopAt = timers_->nowUs();
    EXPECT_EQ(demo().Stop(), 1);
    // The stop request is seen at the next firing, the worker within 100 ms,
    // then Stop waits one second more.
    EXPECT_LE(timers_->nowUs() - stopAt, 2'000'000);
    EXPECT_GE(timers_->nowUs() - stopAt, 1'000'000);
    EXPECT_TRUE(MusicPlayer::instance().idle());
    EXPECT_EQ(std::tuple(ends_.load(), releases_.load()), std::tuple(0, 1));
    EXPECT_TRUE(closedAtRelease_.load());
    EXPECT_EQ(demo().playbackCopy(), nullptr);
}

// A player whose tick period is below the timer's minimum starts no timer but
// stays playing, so its worker never ends by itself.
TEST_F(MusicPlayerTest, AStartWaitsForAStuckWorkerAsksItToStopThenGivesUpOnIt)
{
    std::atomic<int> stuckCalls{0};
    auto stuck = MakeSong({NoteOn(0, 60)}, 960);
    PlaybackParameters first = parametersFor(*stuck);
    first.onEnd = first.onReleased = [&] { stuckCalls.fetch_add(1); };
    MusicPlayer::instance().startWorker(first);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Division is too large!"});

    auto next = MakeSong({NoteOn(0, 62), NoteOff(96, 62)});
    const PlaybackParameters second = parametersFor(*next);
    const std::int64_t start = timers_->nowUs();
    MusicPlayer::instance().startWorker(second);
    // 101 waits of 100 ms, then at most one 50 ms wait for the new player.
    EXPECT_GE(timers_->nowUs() - start, 10'100'000);
    EXPECT_LE(timers_->nowUs() - start, 10'150'000);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Quit and restart!"});
    // The new song plays to its end; the worker given up on leaves quietly.
    EXPECT_TRUE(timers_->runUntil([] { return MusicPlayer::instance().idle(); }, 10'000));
    timers_->runFor(1000);
    EXPECT_EQ(std::tuple(stuckCalls.load(), ends_.load(), releases_.load()), std::tuple(0, 1, 1));
    EXPECT_EQ(output_->messages().back(), (std::vector<std::uint8_t>{0x80, 62, 0}));
}

// The missing port's message is a modal box in the window: while it waits
// for the user the controller must still answer the window's polls. The
// failed play ends once and is released; a Stop after it has nothing to wait for.
TEST_F(NoMidiDeviceTest, TheControllerAnswersWhileTheMissingPortMessageWaitsForTheUserAndAStopKillsNothing)
{
    // Well inside the time the virtual clock may stand still.
    constexpr std::chrono::milliseconds kAnswerPatience{5000};
    Gate gate;
    const auto box = std::make_shared<GatedSink>(gate);
    const std::shared_ptr<MessageSink> capture = InstallMessageSink(box);
    std::future<std::int32_t> answer;
    bool answered = false;
    // The user, in real time: not a participant of the clock.
    std::thread user([&] {
        if (gate.waitForArrival(kAnswerPatience)) {
            answer = std::async(std::launch::async, [] { return MusicPlayer::instance().hasPlayer(); });
            answered = answer.wait_for(kAnswerPatience) == std::future_status::ready;
        }
        gate.open();
    });
    play();
    user.join();
    InstallMessageSink(capture);
    EXPECT_TRUE(answered);
    EXPECT_EQ(box->texts.take(), std::vector<std::string>{"Can not open Midi device!"});
    EXPECT_TRUE(timers_->runUntil([] { return MusicPlayer::instance().idle(); }, 10'000));
    EXPECT_EQ(std::tuple(ends_.load(), releases_.load(), endsAtRelease_.load()), std::tuple(1, 1, 1));
    const std::int64_t stopAt = timers_->nowUs();
    demo().Stop();
    EXPECT_EQ(timers_->nowUs(), stopAt);  // nothing played: no waiting, not even the settling
    EXPECT_EQ(demo().playbackCopy(), nullptr);
    EXPECT_TRUE(messages_.take().empty());
}

// A plug-in call that does not come back (the per-event callback reaches the
// instruments) must not hang the window's Stop nor the end of the program,
// and once shutdown has given up on the run nothing of it may follow.
TEST_F(RealTimeMusicPlayerTest, StopAndShutdownReturnWhileAPerEventCallbackIsStuck)
{
    Gate gate;
    holdAtEvent_ = 3;
    gate_ = &gate;
    play();
    ASSERT_TRUE(gate.waitForArrival());
    auto stop = std::async(std::launch::async, [this] { return demo().Stop(); });
    const bool stopReturned = stop.wait_for(Gate::kPatience) == std::future_status::ready;
    auto shutdown = std::async(std::launch::async, [] { MusicPlayer::instance().shutdown(); });
    const bool shutdownReturned = shutdown.wait_for(Gate::kPatience) == std::future_status::ready;
    const int eventsAtShutdown = events_.load();
    gate.open();
    EXPECT_TRUE(stopReturned);
    EXPECT_TRUE(shutdownReturned);
    EXPECT_TRUE(WaitInRealTime([] { return MusicPlayer::instance().idle(); }));
    EXPECT_EQ(events_.load(), eventsAtShutdown);
    EXPECT_EQ(ends_.load() + releases_.load(), 0);
    EXPECT_TRUE(WaitInRealTime([this] { return output_->records().back().kind == Kind::Close; }));
}

}  // namespace
}  // namespace sonrigo::test
