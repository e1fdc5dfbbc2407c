#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "PlaybackFixture.h"
#include "playback/MusicPlayer.h"
#include "playback/SequencerState.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace sonrigo::test {
namespace {

class MusicPlayerTest : public PlaybackTest {
protected:
    explicit MusicPlayerTest(int ports = 1) : PlaybackTest(ports), loader_(std::string(SONRIGO_DEMO_MIDI))
    {
        loader_.Flatten();
        messages_.take();  // the demo has no master volume, and the loader says so
    }
    ~MusicPlayerTest() override { MusicPlayer::instance().shutdown(); }

    MidiF0Data& demo() { return *loader_.playable(); }
    void play()
    {
        demo().Play([this] { ended(); }, [this](std::int32_t, std::int32_t tick, MidiEvent* record) {
            if (record == nullptr)
                firstTick_.store(tick);
            events_.fetch_add(1);
        });
    }
    void ended()
    {
        ends_.fetch_add(1);
        onTestThread_.store(std::this_thread::get_id() == testThread_);
    }

    MidiFileLoader loader_;
    const std::thread::id testThread_ = std::this_thread::get_id();
    std::atomic<int> ends_{0};
    std::atomic<int> events_{0};
    std::atomic<int> firstTick_{-1};
    std::atomic<bool> onTestThread_{false};
};

class NoMidiDeviceTest : public MusicPlayerTest {
protected:
    NoMidiDeviceTest() : MusicPlayerTest(0) {}
};

TEST_F(MusicPlayerTest, ASongPlayedToItsEndCallsTheEndCallbackOnceOnTheWorkerThenClosesTheOutput)
{
    play();
    EXPECT_EQ(firstTick_.load(), 0);  // Play announces the ticks cut before any record
    EXPECT_TRUE(timers_->runUntil([this] { return MusicPlayer::instance().idle(); }, 600'000))
        << "playing " << SequencerState::instance().playing.load() << " ends " << ends_.load() << " events "
        << events_.load() << " at " << timers_->nowUs();
    EXPECT_EQ(ends_.load(), 1);
    EXPECT_FALSE(onTestThread_.load());
    EXPECT_EQ(events_.load(), demo().playbackCopy()->track().count() + 1);
    const auto records = output_->records();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[records.size() - 2].kind, RecordingMidiOutput::Kind::Reset);
    EXPECT_EQ(records.back().kind, RecordingMidiOutput::Kind::Close);
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
    EXPECT_EQ(ends_.load(), 0);
    EXPECT_EQ(demo().playbackCopy(), nullptr);
}

TEST_F(NoMidiDeviceTest, PlayFailsCallsTheEndCallbackOnceAndAStopKillsNothing)
{
    play();
    EXPECT_TRUE(timers_->runUntil([this] { return MusicPlayer::instance().idle(); }, 10'000));
    EXPECT_EQ(ends_.load(), 1);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Can not open Midi device!"});
    const std::int64_t stopAt = timers_->nowUs();
    demo().Stop();
    EXPECT_EQ(timers_->nowUs() - stopAt, 1'000'000);  // the player slot was tried: no waiting but the settling
    EXPECT_TRUE(messages_.take().empty());
}

TEST_F(MusicPlayerTest, AStopWithNothingPlayingGivesUpWaitingForAPlayerAfterThreeSeconds)
{
    const std::int64_t start = timers_->nowUs();
    MusicPlayer::instance().stopPlayback();
    EXPECT_EQ(timers_->nowUs() - start, 3'100'000);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Error occurd in MidiF0Data!"});
}

// A player whose tick period is below the timer's minimum starts no timer but
// stays playing, so its worker never ends by itself.
TEST_F(MusicPlayerTest, AStartWaitsForAStuckWorkerAsksItToStopThenGivesUp)
{
    auto stuck = MakeSong({NoteOn(0, 60)}, 960);
    PlaybackParameters first;
    first.song = stuck.get();
    first.onEvent = [](std::int32_t, std::int32_t, MidiEvent*) {};
    MusicPlayer::instance().startWorker(first);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Division is too large!"});

    auto next = MakeSong({NoteOn(0, 62)});
    PlaybackParameters second;
    second.song = next.get();
    second.onEvent = first.onEvent;
    const std::int64_t start = timers_->nowUs();
    MusicPlayer::instance().startWorker(second);
    // 101 waits of 100 ms, then at most one 50 ms wait for the new player.
    EXPECT_GE(timers_->nowUs() - start, 10'100'000);
    EXPECT_LE(timers_->nowUs() - start, 10'150'000);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"Quit and restart!"});
    // The stop hand-shake then kills what timers there are and both end.
    MusicPlayer::instance().stopPlayback();
    EXPECT_TRUE(timers_->runUntil([] { return MusicPlayer::instance().idle(); }, 10'000));
    timers_->runFor(1000);  // the worker given up on sees the end too and leaves
}

}  // namespace
}  // namespace sonrigo::test
