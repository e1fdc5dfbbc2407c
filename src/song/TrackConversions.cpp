// The whole-track conversions of MidiTrackData. Each one gives, record for
// record, what walking the list one record at a time (inserting and removing
// as it goes) would give, but in O(n log n) or better: absolute times are
// computed once, notes are paired through per-note queues, lists are rebuilt
// in one pass and records are moved rather than copied where the source goes
// away anyway.

#include <algorithm>
#include <cstdint>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/ErrorTexts.h"
#include "common/WarnOnceReporter.h"
#include "song/MidiTrackData.h"
#include "song/TickMath.h"

namespace sonrigo {
namespace {

// Scratch arrays as long as a track, from the same pool as the lists.
template <typename T>
using TrackSized = std::vector<T, PooledAllocator<T>>;

constexpr std::int32_t kEndOfTrack = 0x2F;
constexpr std::int32_t kTrackName = 0x03;
constexpr std::int32_t kNoteOffVelocity = 64;
constexpr std::size_t kLongNameLength = 128;

bool AnyNegativeDelta(const EventList& events)
{
    return std::any_of(events.begin(), events.end(), [](const auto& e) { return e.delta < 0; });
}

MidiEvent MakeNoteOff(const MidiEvent& note)
{
    auto off = MidiEvent(0);
    off.kind = EventKind::NoteOff;
    off.data1 = note.data1;
    off.channel = note.channel;
    off.velocity = kNoteOffVelocity;
    return off;
}

// Pairs every NoteOn with a note-off by queue: one FIFO of pending NoteOns per
// channel and note number, chained through the pending notes themselves (one
// entry per NoteOn, so that a track of few notes needs next to nothing).
class PendingNotes {
public:
    struct Pending {
        std::int64_t start;  // tick of the NoteOn
        std::int32_t index;  // its position in the list
        std::int32_t next = -1;
    };

    explicit PendingNotes(std::size_t notes) : common_(CommonQueues()) { pending_.reserve(notes); }
    // The thread's table goes back empty: only the queues that may still
    // hold notes are reset, so that a short track does not pay for all 4,096.
    ~PendingNotes()
    {
        for (const std::int32_t used : used_)
            common_[static_cast<std::size_t>(used)] = Queue{};
    }
    PendingNotes(const PendingNotes&) = delete;
    PendingNotes& operator=(const PendingNotes&) = delete;

    void push(const MidiEvent& on, std::int32_t index, std::int64_t start)
    {
        Queue& queue = queueFor(on);
        const auto added = static_cast<std::int32_t>(pending_.size());
        pending_.push_back({start, index});
        if (queue.tail < 0 && on.channel >= 0 && on.channel < 16)
            used_.push_back(on.channel * 256 + on.data1);  // a queue left empty needs no reset
        if (queue.tail >= 0)
            pending_[static_cast<std::size_t>(queue.tail)].next = added;
        else
            queue.head = added;
        queue.tail = added;
    }

    // The oldest pending NoteOn of the note-off's channel and note, or null.
    const Pending* pop(const MidiEvent& off)
    {
        Queue& queue = queueFor(off);
        if (queue.head < 0)
            return nullptr;
        const Pending& oldest = pending_[static_cast<std::size_t>(queue.head)];
        queue.head = oldest.next;
        if (queue.head < 0)
            queue.tail = -1;
        return &oldest;
    }

private:
    struct Queue {
        std::int32_t head = -1;
        std::int32_t tail = -1;
    };
    static constexpr std::size_t kCommonQueues = 16 * 256;

    // One queue for each channel and note of a file, empty between uses.
    static std::vector<Queue>& CommonQueues()
    {
        thread_local std::vector<Queue> queues(kCommonQueues);
        return queues;
    }

    Queue& queueFor(const MidiEvent& event)
    {
        if (event.channel >= 0 && event.channel < 16) {
            return common_[static_cast<std::size_t>(event.channel * 256 + event.data1)];
        }
        // Channels no file gives, from records built by hand.
        return unusual_[static_cast<std::uint64_t>(static_cast<std::uint16_t>(event.channel)) << 8 | event.data1];
    }

    std::vector<Queue>& common_;
    std::vector<std::int32_t> used_;
    std::unordered_map<std::uint64_t, Queue> unusual_;
    std::vector<Pending> pending_;
};

// toOnOffForm's insertion walk done one note at a time. Used only for lists
// where times can run backwards (negative deltas or durations), which no file
// produces.
void InsertNoteOffsOneByOne(EventList& events)
{
    for (std::size_t i = 0; i < events.size(); ++i) {
        MidiEvent& note = events[i];
        if (note.kind != EventKind::Note)
            continue;
        note.kind = EventKind::NoteOn;
        const std::int64_t length = std::max(note.duration, 0);
        note.duration = 0;
        std::size_t k = i;
        std::int64_t sum = 0;
        if (length > 0) {
            do {
                ++k;
                if (k == events.size())
                    break;
                sum += events[k].delta;
            } while (sum < length);
        }
        auto off = MakeNoteOff(note);
        if (k < events.size()) {
            off.delta = ClampTicks(events[k].delta - (sum - length));
            events[k].delta = ClampTicks(sum - length);
        } else {
            off.delta = ClampTicks(length - sum);
        }
        events.insert(events.begin() + static_cast<std::ptrdiff_t>(k), std::move(off));
    }
}

// A note-off to place: where it goes and what it is.
struct PendingOff {
    std::int64_t end;
    std::int32_t note;  // index of its note
    std::int16_t channel;
    std::uint8_t data1;
};

// Puts note-offs listed in note order (ends never negative) in the order of
// their ends, the later note first at one end: the list reversed, then a
// stable radix sort on the end, a byte at a time, for as many bytes as the
// latest end has. A song's note-offs, some hundred thousand, take two or
// three passes so, where a comparison sort takes twenty.
void SortByEndLaterNoteFirst(TrackSized<PendingOff>& offs)
{
    std::reverse(offs.begin(), offs.end());
    std::uint64_t latest = 0;
    for (const PendingOff& off : offs)
        latest = std::max(latest, static_cast<std::uint64_t>(off.end));
    TrackSized<PendingOff> sorted(offs.size());
    for (unsigned shift = 0; shift < 64 && (latest >> shift) != 0; shift += 8) {
        std::size_t starts[257] = {};
        for (const PendingOff& off : offs)
            ++starts[(static_cast<std::uint64_t>(off.end) >> shift & 0xFF) + 1];
        for (std::size_t b = 1; b < 257; ++b)
            starts[b] += starts[b - 1];
        for (const PendingOff& off : offs)
            sorted[starts[static_cast<std::uint64_t>(off.end) >> shift & 0xFF]++] = off;
        offs.swap(sorted);
    }
}

// The same result for lists whose times never run backwards: each note-off
// goes before the first record at or after the note's end, so at one tick
// note-offs come before everything else, the note-off of a later note first.
// The list is rebuilt in place from its end (every record only moves towards
// the end), so that a song's on/off form costs no second list; a list
// reserved with room for its note-offs does not move at all. notes: how many
// Note records the list holds.
void InsertNoteOffsByTime(EventList& events, std::size_t notes)
{
    TrackSized<PendingOff> offs;
    offs.reserve(notes);
    std::int64_t now = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        MidiEvent& event = events[i];
        now += event.delta;
        if (event.kind == EventKind::Note) {
            offs.push_back({now + event.duration, static_cast<std::int32_t>(i), event.channel, event.data1});
            event.kind = EventKind::NoteOn;
            event.duration = 0;
        }
    }
    SortByEndLaterNoteFirst(offs);

    const std::size_t records = events.size();
    events.resize(records + offs.size());
    std::size_t out = events.size();
    std::int64_t later = 0;  // time of the record at out, once one is placed
    auto place = [&](std::int64_t time) -> MidiEvent& {
        if (out < events.size())
            events[out].delta = ClampTicks(later - time);
        later = time;
        return events[--out];
    };
    auto placeOff = [&](const PendingOff& pending) {
        MidiEvent& off = place(pending.end);
        off = MidiEvent(0);
        off.kind = EventKind::NoteOff;
        off.channel = pending.channel;
        off.data1 = pending.data1;
        off.velocity = kNoteOffVelocity;
    };
    std::size_t nextOff = offs.size();
    for (std::size_t i = records; i-- > 0;) {
        for (; nextOff > 0 && offs[nextOff - 1].end > now; --nextOff)
            placeOff(offs[nextOff - 1]);
        const std::int32_t delta = events[i].delta;
        MidiEvent& target = place(now);
        if (&target != &events[i])
            target = std::move(events[i]);
        now -= delta;
    }
    for (; nextOff > 0; --nextOff)
        placeOff(offs[nextOff - 1]);
    if (!events.empty())
        events[0].delta = ClampTicks(later);
}

// The next record of each source list, earliest first; at one time the
// lower-numbered list first.
struct NextRecord {
    std::int64_t time;
    std::size_t copy;
    bool operator>(const NextRecord& other) const
    {
        return time != other.time ? time > other.time : copy > other.copy;
    }
};
using NextRecords = std::priority_queue<NextRecord, std::vector<NextRecord>, std::greater<>>;

// Puts record in the place of the earliest of a heap made with std::greater.
void ReplaceTop(std::vector<NextRecord>& heap, const NextRecord& record)
{
    std::size_t hole = 0;
    for (;;) {
        std::size_t child = 2 * hole + 1;
        if (child >= heap.size())
            break;
        if (child + 1 < heap.size() && heap[child] > heap[child + 1])
            ++child;
        if (!(record > heap[child]))
            break;
        heap[hole] = heap[child];
        hole = child;
    }
    heap[hole] = record;
}

bool IsEndOfTrack(const MidiEvent& event)
{
    return event.kind == EventKind::Meta && (event.subtype & 0xFF) == kEndOfTrack;
}

// Reports, as releasing them would, every long payload of the records.
void ReportLongPayloads(const EventList& events, std::size_t times = 1)
{
    for (const auto& event : events) {
        if (event.length >= 256 && event.subtype != 0x7F) {
            for (std::size_t i = 0; i < times; ++i)
                MidiTrackData::ReportError(0);
        }
    }
}

// mergeTracks one round at a time. Used only when some delta is negative.
void MergeRoundByRound(std::vector<EventList>& copies, MidiTrackData& target)
{
    std::vector<std::size_t> cursor(copies.size(), 0);
    auto hasMore = [&](std::size_t c) { return cursor[c] < copies[c].size(); };
    for (;;) {
        std::size_t left = 0;
        std::size_t only = 0;
        for (std::size_t c = 0; c < copies.size(); ++c) {
            if (hasMore(c)) {
                ++left;
                only = c;
            }
        }
        if (left == 0)
            return;
        if (left == 1) {
            target.append(std::move(copies[only][cursor[only]++]));
            continue;
        }
        std::int32_t smallest = 0;
        bool first = true;
        for (std::size_t c = 0; c < copies.size(); ++c) {
            if (hasMore(c) && (first || copies[c][cursor[c]].delta < smallest)) {
                smallest = copies[c][cursor[c]].delta;
                first = false;
            }
        }
        bool firstTaken = true;
        for (std::size_t c = 0; c < copies.size(); ++c) {
            if (!hasMore(c))
                continue;
            MidiEvent& next = copies[c][cursor[c]];
            if (next.delta == smallest) {
                next.delta = firstTaken ? smallest : 0;
                firstTaken = false;
                target.append(std::move(copies[c][cursor[c]++]));
            } else {
                next.delta = AddTicks(next.delta, -smallest);
            }
        }
    }
}

// mergeTracks for lists whose times never run backwards: records come out by
// time; at one tick, round by round (each track's first record at that tick in
// track order, then each track's second, ...).
void MergeByTime(std::vector<EventList>& copies, MidiTrackData& target)
{
    NextRecords heap;
    std::vector<std::size_t> cursor(copies.size(), 0);
    std::vector<std::int64_t> clock(copies.size(), 0);  // time of each copy's last record taken
    for (std::size_t c = 0; c < copies.size(); ++c) {
        if (!copies[c].empty())
            heap.push({copies[c][0].delta, c});
    }
    std::int64_t previous = 0;
    std::vector<std::size_t> round;
    while (!heap.empty()) {
        const std::int64_t now = heap.top().time;
        round.clear();
        while (!heap.empty() && heap.top().time == now) {
            round.push_back(heap.top().copy);
            heap.pop();
        }
        for (std::size_t c : round) {
            auto& event = copies[c][cursor[c]++];
            event.delta = ClampTicks(now - previous);
            previous = now;
            clock[c] = now;
            target.append(std::move(event));
        }
        for (std::size_t c : round) {
            if (cursor[c] < copies[c].size())
                heap.push({clock[c] + copies[c][cursor[c]].delta, c});
        }
    }
}

}  // namespace

void MidiTrackData::noteOnZeroToNoteOff()
{
    if (!requireState(TrackState::OnOff))
        return;
    for (auto& event : events_) {
        if (event.kind == EventKind::NoteOn && event.velocity == 0)
            event.kind = EventKind::NoteOff;
    }
}

void MidiTrackData::toDurationForm()
{
    if (!requireState(TrackState::OnOff))
        return;
    // A NoteOn of velocity 0 is a NoteOff.
    std::size_t ons = 0;
    bool timesRunBackwards = false;
    for (auto& event : events_) {
        if (event.kind == EventKind::NoteOn) {
            if (event.velocity == 0)
                event.kind = EventKind::NoteOff;
            else
                ++ons;
        }
        timesRunBackwards = timesRunBackwards || event.delta < 0;
    }

    // Each NoteOn takes the first later NoteOff of its channel and note that
    // an earlier NoteOn has not taken; every NoteOff goes, paired or not, and
    // after them every note that took none. Where times never run backwards
    // both go in one compaction, which gives the same deltas; otherwise the
    // note-offs go first, as flagged.
    std::vector<bool> noteOff(timesRunBackwards ? events_.size() : 0, false);
    PendingNotes pending(ons);
    std::int64_t now = 0;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        MidiEvent& event = events_[i];
        now += event.delta;
        if (event.kind == EventKind::NoteOn) {
            event.kind = EventKind::Note;
            pending.push(event, static_cast<std::int32_t>(i), now);
        } else if (event.kind == EventKind::NoteOff) {
            if (const PendingNotes::Pending* on = pending.pop(event))
                events_[static_cast<std::size_t>(on->index)].duration = ClampTicks(now - on->start);
            if (timesRunBackwards)
                noteOff[i] = true;
            else
                event.kind = EventKind::Removed;
        }
    }
    if (timesRunBackwards)
        removeFlagged(noteOff);

    for (auto& event : events_) {
        if (event.kind != EventKind::Note)
            continue;
        if (event.duration == 0)
            event.kind = EventKind::Removed;
        else if (event.duration < 0)
            ReportError(MidiTrackDataError::Internal);
    }
    compact();
    state_ = TrackState::Duration;
}

void MidiTrackData::toOnOffForm()
{
    if (!requireState(TrackState::Duration))
        return;
    // Notes of no length or velocity go (in one compaction, as compact()
    // would remove them), and the same pass sees whether times run backwards.
    std::size_t kept = 0;
    std::size_t notes = 0;
    bool afterRemoved = false;
    bool timesRunBackwards = false;
    std::int32_t carried = 0;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        MidiEvent& event = events_[i];
        if (event.kind == EventKind::Note && (event.duration == 0 || event.velocity == 0))
            event.kind = EventKind::Removed;
        if (afterRemoved) {
            event.delta = AddTicks(event.delta, carried);
            if (event.delta < 0)
                ReportError(MidiTrackDataError::Internal);
        }
        afterRemoved = event.kind == EventKind::Removed;
        if (afterRemoved) {
            carried = event.delta;
            continue;
        }
        timesRunBackwards = timesRunBackwards || event.delta < 0 || (event.kind == EventKind::Note && event.duration < 0);
        notes += event.kind == EventKind::Note ? 1 : 0;
        if (kept++ != i)
            events_[kept - 1] = std::move(event);
    }
    events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(kept), events_.end());

    if (timesRunBackwards)
        InsertNoteOffsOneByOne(events_);
    else
        InsertNoteOffsByTime(events_, notes);

    // A note that ends after the End of Track takes the End of Track with it.
    const auto endOfTrack = std::find_if(events_.begin(), events_.end(), [](const auto& e) {
        return e.kind == EventKind::Meta && e.subtype == kEndOfTrack;
    });
    if (endOfTrack != events_.end() && endOfTrack + 1 != events_.end()) {
        (*(endOfTrack + 1)).delta = AddTicks((*(endOfTrack + 1)).delta, (*endOfTrack).delta);
        (*endOfTrack).delta = 0;
        std::rotate(endOfTrack, endOfTrack + 1, events_.end());
    }
    state_ = TrackState::OnOff;
    orderNoteOffsFirst();
}

void MidiTrackData::orderNoteOffsFirst()
{
    if (!requireState(TrackState::OnOff))
        return;
    // Within one tick, the nearest NoteOn before a NoteOff trades places with
    // it; that NoteOn is then still the nearest one for the next NoteOff.
    std::int32_t nearestOn = -1;
    for (std::int32_t i = 0; i < count(); ++i) {
        if (i == 0 || events_[static_cast<std::size_t>(i)].delta != 0)
            nearestOn = -1;
        const std::int32_t kind = events_[static_cast<std::size_t>(i)].kind;
        if (kind == EventKind::NoteOff && nearestOn >= 0) {
            swap(nearestOn, i);
            nearestOn = i;
        } else if (kind == EventKind::NoteOn) {
            nearestOn = i;
        }
    }
}

std::int32_t MidiTrackData::rescale(std::int32_t from, std::int32_t to, std::int32_t mode)
{
    if (!requireState(TrackState::Duration))
        return 0;
    if (from == to)
        return 0;
    if (from <= 0 || to <= 0) {
        ReportError(MidiTrackDataError::Internal);
        return 0;
    }
    // Going down by a whole factor (480 or 960 to 96, the usual case) the
    // same truncating arithmetic needs one division per record, not two.
    const bool byFactor = from % to == 0;
    const std::int64_t factor = from / to;
    // Ticks of a file are never negative and fit 32 bits, where division is
    // several times faster; the result is the same.
    auto scale = [&](std::int64_t ticks) {
        if (!byFactor)
            return ticks * to / from;
        if (ticks >= 0 && ticks <= std::int64_t{UINT32_MAX})
            return std::int64_t{static_cast<std::uint32_t>(ticks) / static_cast<std::uint32_t>(factor)};
        return ticks / factor;
    };
    auto unscale = [&](std::int64_t ticks) { return byFactor ? ticks * factor : ticks * from / to; };
    std::int32_t shortened = 0;
    bool removed = false;
    std::int64_t remainder = 0;
    for (auto& event : events_) {
        const std::int64_t ticks = event.delta + remainder;
        const std::int64_t scaled = scale(ticks);
        remainder = ticks - unscale(scaled);
        event.delta = ClampTicks(scaled);
        if (event.kind == EventKind::Note) {
            const std::int64_t duration = scale(event.duration);
            if (duration == 0) {
                if (mode == 1)
                    event.kind = EventKind::Removed;
                else
                    event.duration = 1;
                shortened = 1;
            } else {
                event.duration = ClampTicks(duration);
            }
        }
        removed = removed || event.kind == EventKind::Removed;
    }
    if (removed)  // compacting a list without Removed records changes nothing
        compact();
    return shortened;
}

void MidiTrackData::mergeTrack(const MidiTrackData& other, std::int32_t mode)
{
    // Both tracks are worked on as copies: this one's records can simply be
    // moved, as it is cleared anyway; the other's must be copied.
    MidiTrackData a(TrackState::Duration);
    if (requireState(TrackState::Duration))
        a.events_ = std::move(events_);
    MidiTrackData b(other);
    events_.clear();
    largeDataShown_ = false;

    if (mode == 1) {
        std::string nameA;
        std::string nameB;
        a.findMetaText(kTrackName, nameA);
        b.findMetaText(kTrackName, nameB);
        // Names are text: they end at the first zero byte.
        nameA.resize(std::min(nameA.size(), nameA.find('\0')));
        nameB.resize(std::min(nameB.size(), nameB.find('\0')));
        std::string name = nameA.empty() ? nameB : nameA + " / " + nameB;
        a.removeMeta(kTrackName, false);
        b.removeMeta(kTrackName, false);
        if (name.size() >= kLongNameLength)
            name = "long name";
        a.insertMetaTextAtStart(kTrackName, name);
    } else if (b.firstChannel() != kNoChannel) {
        b.removeMeta(kTrackName, false);
    }

    std::size_t ia = 0;
    std::size_t ib = 0;
    EventList& fromA = a.events_;
    EventList& fromB = b.events_;
    events_.reserve(fromA.size() + fromB.size());
    while (ia < fromA.size() || ib < fromB.size()) {
        if (ia == fromA.size()) {
            append(std::move(fromB[ib++]));
        } else if (ib == fromB.size()) {
            append(std::move(fromA[ia++]));
        } else {
            MidiEvent& nextA = fromA[ia];
            MidiEvent& nextB = fromB[ib];
            if (nextA.delta < nextB.delta) {
                nextB.delta = ClampTicks(std::int64_t{nextB.delta} - nextA.delta);
                append(std::move(fromA[ia++]));
            } else {
                nextA.delta = ClampTicks(std::int64_t{nextA.delta} - nextB.delta);
                append(std::move(fromB[ib++]));
            }
        }
    }
    // The copies are released here; what they held now lives in this track,
    // but their release still reports each long payload.
    fromA.clear();
    fromB.clear();
    ReportLongPayloads(events_);
    normaliseEndOfTrack();
}

void MidiTrackData::mergeTracks(std::span<const MidiTrackData* const> tracks)
{
    if (tracks.empty()) {
        ReportError(0);
        return;
    }
    std::vector<EventList> copies;
    copies.reserve(tracks.size());
    std::size_t total = 0;
    bool timesRunBackwards = false;
    for (const MidiTrackData* track : tracks) {
        MidiTrackData copy(*track);
        timesRunBackwards = timesRunBackwards || AnyNegativeDelta(copy.events_);
        total += copy.events_.size();
        copies.push_back(std::move(copy.events_));
    }
    clear();
    events_.reserve(total + 1);
    if (timesRunBackwards)
        MergeRoundByRound(copies, *this);
    else
        MergeByTime(copies, *this);
    normaliseEndOfTrack();
    // The copies' release reports each long payload they held.
    ReportLongPayloads(events_);
}

void MidiTrackData::mergeTracksFromLast(std::span<const MidiTrackData* const> tracks)
{
    mergeFromLast(tracks, [&](std::size_t k) {
        MidiTrackData copy(*tracks[k]);
        return std::move(copy.events_);
    });
}

void MidiTrackData::mergeTracksFromLastMoving(std::span<MidiTrackData* const> tracks)
{
    const std::vector<const MidiTrackData*> sources(tracks.begin(), tracks.end());
    mergeFromLast(sources, [&](std::size_t k) {
        // The one-by-one merges would copy the track and release it later.
        if (tracks[k]->state_ != TrackState::Duration) {
            ReportError(MidiTrackDataError::Internal);
            return EventList{};
        }
        return tracks[k]->takeEvents();
    });
}

template <typename Take>
void MidiTrackData::mergeFromLast(std::span<const MidiTrackData* const> tracks, Take take)
{
    // The one-pass merge gives the same records as the merges one by one when
    // this track starts empty, times never run backwards, and every track
    // after the first has no second track name at tick 0 (which a later merge
    // would take for the names joined so far). Anything else is merged one
    // track at a time.
    bool oneByOne = !events_.empty() || state_ != TrackState::Duration;
    for (std::size_t k = 0; k < tracks.size() && !oneByOne; ++k) {
        const MidiTrackData& track = *tracks[k];
        if (track.state_ != TrackState::Duration || AnyNegativeDelta(track.events_)) {
            oneByOne = true;
            break;
        }
        std::int64_t now = 0;
        int namesAtStart = 0;
        bool firstNameSeen = false;
        for (const auto& event : track.events_) {
            now += event.delta;
            const bool name = event.kind == EventKind::Meta && (event.subtype & 0xFF) == kTrackName;
            if (name && firstNameSeen && now == 0)
                ++namesAtStart;
            firstNameSeen = firstNameSeen || name;
        }
        oneByOne = k > 0 && namesAtStart > 0;
    }
    if (oneByOne) {
        for (std::size_t k = tracks.size(); k-- > 0;)
            mergeTrack(*tracks[k], 1);
        return;
    }
    if (tracks.empty())
        return;

    std::string name;
    std::vector<EventList> copies;
    copies.reserve(tracks.size());
    std::size_t total = 0;
    // Each merge one by one builds its list anew from the list so far (its
    // name, the records merged before but their Ends of Track, and one End of
    // Track) and the track's records, and shows "Large data" once when that
    // passes the limit.
    std::size_t mergedBefore = 0;  // records merged so far that are not End of Track
    bool largeData = false;        // whether the latest merge showed it
    for (std::size_t k = tracks.size(); k-- > 0;) {
        MidiTrackData copy(TrackState::Duration);
        copy.events_ = take(k);
        std::string trackName;
        copy.findMetaText(kTrackName, trackName);
        trackName.resize(std::min(trackName.size(), trackName.find('\0')));
        name = name.empty() ? trackName : name + " / " + trackName;
        if (name.size() >= kLongNameLength)
            name = "long name";
        copy.removeMeta(kTrackName, false);
        const std::size_t listSoFar = k + 1 == tracks.size() ? 1 : mergedBefore + 2;
        largeData = listSoFar + copy.events_.size() > static_cast<std::size_t>(kEventLimit);
        if (largeData)
            ReportError(MidiTrackDataError::LargeData);
        mergedBefore += static_cast<std::size_t>(std::count_if(copy.events_.begin(), copy.events_.end(),
                                                              [](const MidiEvent& e) { return !IsEndOfTrack(e); }));
        // Each merge releases its copies: a record of track k is in the copies
        // of that merge and of the k merges after it.
        ReportLongPayloads(copy.events_, k + 1);
        total += copy.events_.size();
        copies.push_back(std::move(copy.events_));
    }
    std::reverse(copies.begin(), copies.end());

    // The first track's records at tick 0 come before the name.
    std::size_t nameAt = 0;
    for (const auto& event : copies.front()) {
        if (event.delta != 0)
            break;
        ++nameAt;
    }

    auto nameRecord = MidiEvent(0);
    nameRecord.kind = EventKind::Meta;
    nameRecord.subtype = kTrackName;
    std::vector<std::uint8_t> bytes(name.begin(), name.end());
    bytes.push_back(0);
    nameRecord.storePayload(bytes);
    nameRecord.length = static_cast<std::int32_t>(name.size());

    // The list is built as merging, inserting the name and leaving one End of
    // Track would build it, in one pass: an End of Track that another record
    // follows goes, its delta passed on to that record.
    events_.reserve(total + 2);
    const auto keep = [&](MidiEvent&& event) {
        if (!events_.empty() && IsEndOfTrack(events_.back())) {
            event.delta = AddTicks(event.delta, events_.back().delta);
            events_.pop_back();
        }
        events_.push_back(std::move(event));
    };
    largeDataShown_ = largeData;
    std::size_t merged = 0;  // records merged so far, the name not counted
    const auto place = [&](MidiEvent&& event) {
        if (merged++ == nameAt)
            keep(std::move(nameRecord));
        keep(std::move(event));
    };

    // The next record of each copy, earliest first, in a heap whose top is
    // replaced in place; a run of the top copy's records that all come before
    // the top's children, the earliest of the others, goes without the heap.
    std::vector<NextRecord> heap;
    std::vector<std::size_t> cursor(copies.size(), 0);
    for (std::size_t c = 0; c < copies.size(); ++c) {
        if (!copies[c].empty())
            heap.push_back({copies[c][0].delta, c});
    }
    std::make_heap(heap.begin(), heap.end(), std::greater<>());
    std::int64_t previous = 0;
    while (!heap.empty()) {
        NextRecord next = heap.front();
        const NextRecord* rival = nullptr;
        if (heap.size() > 1)
            rival = heap.size() > 2 && heap[1] > heap[2] ? &heap[2] : &heap[1];
        EventList& from = copies[next.copy];
        std::size_t& at = cursor[next.copy];
        for (;;) {
            auto& event = from[at++];
            event.delta = ClampTicks(next.time - previous);
            previous = next.time;
            place(std::move(event));
            if (at == from.size()) {
                const NextRecord last = heap.back();
                heap.pop_back();
                if (!heap.empty())
                    ReplaceTop(heap, last);
                break;
            }
            next.time += from[at].delta;
            if (rival != nullptr && !(*rival > next)) {
                ReplaceTop(heap, next);
                break;
            }
        }
    }
    if (merged <= nameAt)
        keep(std::move(nameRecord));
    if (events_.empty() || !IsEndOfTrack(events_.back())) {
        MidiEvent endOfTrack(0);
        endOfTrack.kind = EventKind::Meta;
        endOfTrack.subtype = kEndOfTrack;
        append(std::move(endOfTrack));
    }

    MidiEvent& end = events_.back();
    // Merged one by one, a song that ends at tick 0 ends with the End of
    // Track the first merge appended after the name, not with a track's own.
    if (previous == 0) {
        end = MidiEvent(0);
        end.kind = EventKind::Meta;
        end.subtype = kEndOfTrack;
    }
}

std::int32_t MidiTrackData::findMasterVolume() const
{
    std::int32_t volume = -1;
    bool found = false;
    for (const auto& event : events_) {
        if (event.kind == EventKind::SysEx && event.subtype == ExclusiveClass::MasterVolume) {
            if (found)
                Notices().report(MidiTrackDataError::SeveralMasterVolumes);
            found = true;
            volume = event.value;
        }
    }
    return volume;
}

void MidiTrackData::insertMasterVolume(std::int32_t volume)
{
    if (volume > 127)
        ReportError(MidiTrackDataError::Internal);
    auto event = MidiEvent(0);
    event.kind = EventKind::SysEx;
    event.subtype = ExclusiveClass::MasterVolume;
    event.value = volume;
    const std::uint8_t bytes[] = {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, static_cast<std::uint8_t>(volume), 0xF7};
    event.storePayload(bytes);
    events_.insert(events_.begin(), std::move(event));
}

}  // namespace sonrigo
