#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/WarnOnceReporter.h"
#include "song/MidiTrackData.h"
#include "support/CaptureMessages.h"

namespace sonrigo {
namespace {

namespace K = EventKind;
using Strings = std::vector<std::string>;
using I64 = std::int64_t;

const std::string kInternal = "MidiTrackData Internal Error";
const std::string kCatchAll = "MidiTrackData error.";
const std::string kLargeData = "Large data";
constexpr std::int32_t kName = 3, kEnd = 0x2F;

// ---------------------------------------------------------------------------
// A plain model of a track with the conversions written out step by step,
// slow and literal. The track's own operations must give the same records.

struct Rec {
    std::int32_t kind = K::Removed, delta = 0, data1 = 0, duration = 0, velocity = 0, subtype = 0, value = 0,
                 length = 0, channel = kNoChannel;
    std::string text{};  // the first `length` payload bytes
    bool operator==(const Rec&) const = default;
};

struct Model {
    std::int32_t state = TrackState::Empty;
    std::vector<Rec> recs;
    Strings shown{};  // messages shown on the way
};

std::int32_t Clamp32(I64 v) { return static_cast<std::int32_t>(std::clamp<I64>(v, INT32_MIN, INT32_MAX)); }
bool IsMeta(const Rec& r, std::int32_t type) { return r.kind == K::Meta && (r.subtype & 0xFF) == type; }
Rec Meta(std::int32_t delta, std::int32_t type, const std::string& text = {})
{
    const auto length = static_cast<std::int32_t>(text.size());
    return {.kind = K::Meta, .delta = delta, .subtype = type, .length = length, .text = text};
}

// An operation in the wrong state reports and changes nothing.
bool Need(Model& m, std::int32_t state) { return m.state == state || (m.shown.push_back(kInternal), false); }

void RemoveAt(Model& m, std::size_t i)
{
    if (i + 1 < m.recs.size())
        m.recs[i + 1].delta += m.recs[i].delta;
    m.recs.erase(m.recs.begin() + static_cast<std::ptrdiff_t>(i));
}

void Compact(Model& m)
{
    for (std::size_t i = 0; i < m.recs.size();) {
        if (m.recs[i].kind != K::Removed)
            ++i;
        else if (RemoveAt(m, i); i < m.recs.size() && m.recs[i].delta < 0)
            m.shown.push_back(kInternal);
    }
}

void NoteOnZeroToNoteOff(Model& m)
{
    if (Need(m, TrackState::OnOff))
        for (Rec& r : m.recs)
            if (r.kind == K::NoteOn && r.velocity == 0)
                r.kind = K::NoteOff;
}

void ToDurationForm(Model& m)
{
    if (!Need(m, TrackState::OnOff))
        return;
    NoteOnZeroToNoteOff(m);
    std::vector<Rec>& v = m.recs;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i].kind != K::NoteOn)
            continue;
        v[i].kind = K::Note;
        I64 sum = 0;
        for (std::size_t j = i + 1; j < v.size(); ++j) {
            sum += v[j].delta;
            if (v[j].kind == K::NoteOff && v[j].channel == v[i].channel && v[j].data1 == v[i].data1) {
                v[i].duration = Clamp32(sum);
                RemoveAt(m, j);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < v.size();)
        v[i].kind == K::NoteOff ? RemoveAt(m, i) : void(++i);
    for (Rec& r : v)
        if (r.kind == K::Note && r.duration <= 0)
            r.duration == 0 ? void(r.kind = K::Removed) : m.shown.push_back(kInternal);
    Compact(m);
    m.state = TrackState::Duration;
}

void OrderNoteOffsFirst(Model& m)
{
    if (!Need(m, TrackState::OnOff))
        return;
    std::vector<Rec>& v = m.recs;
    for (std::size_t i = 0; i < v.size(); ++i) {
        for (std::size_t n = i; v[i].kind == K::NoteOff && n-- > 0 && v[n + 1].delta == 0;) {
            if (v[n].kind == K::NoteOn) {
                std::swap(v[n], v[i]);
                std::swap(v[n].delta, v[i].delta);
                break;
            }
        }
    }
}

void ToOnOffForm(Model& m)
{
    if (!Need(m, TrackState::Duration))
        return;
    std::vector<Rec>& v = m.recs;
    for (Rec& r : v)
        if (r.kind == K::Note && (r.duration == 0 || r.velocity == 0))
            r.kind = K::Removed;
    Compact(m);
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i].kind != K::Note)
            continue;
        v[i].kind = K::NoteOn;
        const I64 d = std::max(std::exchange(v[i].duration, 0), 0);
        std::size_t k = i;
        I64 sum = 0;
        while (d > 0 && ++k < v.size() && (sum += v[k].delta) < d) {
        }
        const Rec off{.kind = K::NoteOff, .delta = Clamp32(k < v.size() ? v[k].delta - (sum - d) : d - sum),
                      .data1 = v[i].data1, .velocity = 64, .channel = v[i].channel};
        if (k < v.size())
            v[k].delta = Clamp32(sum - d);
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(k), off);
    }
    const auto end = std::find_if(v.begin(), v.end(), [](const Rec& r) { return IsMeta(r, kEnd); });
    if (end != v.end() && end + 1 != v.end()) {
        (end + 1)->delta += std::exchange(end->delta, 0);
        std::rotate(end, end + 1, v.end());
    }
    m.state = TrackState::OnOff;
    OrderNoteOffsFirst(m);
}

std::int32_t Rescale(Model& m, std::int32_t from, std::int32_t to, std::int32_t mode)
{
    if (!Need(m, TrackState::Duration) || from == to)
        return 0;
    if (from <= 0 || to <= 0)
        return m.shown.push_back(kInternal), 0;
    std::int32_t result = 0;
    I64 remainder = 0;
    for (Rec& r : m.recs) {
        const I64 t = r.delta + remainder, scaled = t * to / from;
        remainder = t - scaled * from / to;
        r.delta = Clamp32(scaled);
        if (r.kind == K::Note && (r.duration = Clamp32(I64{r.duration} * to / from)) == 0) {
            mode == 1 ? void(r.kind = K::Removed) : void(r.duration = 1);
            result = 1;
        }
    }
    Compact(m);
    return result;
}

Model CopyOf(const Model& source, Strings& shown)
{
    const bool ok = source.state == TrackState::Duration || (shown.push_back(kInternal), false);
    return {TrackState::Duration, ok ? source.recs : std::vector<Rec>{}};
}

void RemoveFirstMeta(Model& m, std::int32_t type)
{
    for (std::size_t i = 0; i < m.recs.size(); ++i)
        if (IsMeta(m.recs[i], type))
            return RemoveAt(m, i);
}

void NormaliseEndOfTrack(Model& m)
{
    for (std::size_t i = 0; i + 1 < m.recs.size();)
        IsMeta(m.recs[i], kEnd) ? RemoveAt(m, i) : void(++i);
    if (m.recs.empty() || !IsMeta(m.recs.back(), kEnd))
        m.recs.push_back(Meta(0, kEnd));
}

void MergeTrack(Model& m, const Model& other, std::int32_t mode)
{
    Model a = CopyOf(m, m.shown), b = CopyOf(other, m.shown);
    const auto name = [](const Model& t) {
        const auto r = std::find_if(t.recs.begin(), t.recs.end(), [](const Rec& e) { return IsMeta(e, kName); });
        return r == t.recs.end() ? std::string() : r->text;
    };
    const auto hasChannel = [](const Rec& r) {
        return r.channel != kNoChannel && r.kind != K::SysEx && r.kind != K::SysExEscape;
    };
    if (mode == 1) {
        const std::string joined = name(a).empty() ? name(b) : name(a) + " / " + name(b);
        RemoveFirstMeta(a, kName);
        RemoveFirstMeta(b, kName);
        a.recs.insert(a.recs.begin(), Meta(0, kName, joined.size() >= 128 ? "long name" : joined));
    } else if (mode == 0 && std::any_of(b.recs.begin(), b.recs.end(), hasChannel)) {
        RemoveFirstMeta(b, kName);
    }
    m.recs.clear();
    for (std::size_t ia = 0, ib = 0; ia < a.recs.size() || ib < b.recs.size();) {
        if (ia == a.recs.size()) {
            m.recs.push_back(b.recs[ib++]);
        } else if (ib == b.recs.size()) {
            m.recs.push_back(a.recs[ia++]);
        } else if (a.recs[ia].delta < b.recs[ib].delta) {
            b.recs[ib].delta -= a.recs[ia].delta;
            m.recs.push_back(a.recs[ia++]);
        } else {
            a.recs[ia].delta -= b.recs[ib].delta;
            m.recs.push_back(b.recs[ib++]);
        }
    }
    NormaliseEndOfTrack(m);
}

void MergeTracks(Model& m, const std::vector<Model>& sources)
{
    if (sources.empty())
        return m.shown.push_back(kCatchAll);
    std::vector<Model> copies;
    for (const Model& source : sources)
        copies.push_back(CopyOf(source, m.shown));
    m.recs.clear();
    std::vector<std::size_t> pos(copies.size(), 0), live;
    // One copy left: its records go unchanged, which the rounds below also do.
    for (;;) {
        live.clear();
        for (std::size_t c = 0; c < copies.size(); ++c)
            if (pos[c] < copies[c].recs.size())
                live.push_back(c);
        if (live.empty())
            break;
        std::int32_t least = INT32_MAX;
        for (std::size_t c : live)
            least = std::min(least, copies[c].recs[pos[c]].delta);
        bool first = true;
        for (std::size_t c : live) {
            Rec& next = copies[c].recs[pos[c]];
            if (next.delta != least) {
                next.delta -= least;
                continue;
            }
            m.recs.push_back(next);
            m.recs.back().delta = std::exchange(first, false) ? least : 0;
            ++pos[c];
        }
    }
    NormaliseEndOfTrack(m);
}

// ---------------------------------------------------------------------------
// Between the model and real tracks.

std::unique_ptr<MidiTrackData> Made(const Model& m)
{
    auto track = std::make_unique<MidiTrackData>(m.state);
    for (const Rec& r : m.recs) {
        auto e = std::make_unique<MidiEvent>(r.delta);
        e->storePayload({reinterpret_cast<const std::uint8_t*>(r.text.data()), r.text.size()});
        std::tie(e->kind, e->data1, e->duration, e->velocity, e->subtype, e->value, e->length, e->channel) =
            std::tie(r.kind, r.data1, r.duration, r.velocity, r.subtype, r.value, r.length, r.channel);
        track->append(std::move(e));
    }
    return track;
}

// What a track holds, as a model; zeros past the stored payload bytes.
Model Seen(const MidiTrackData& track, Strings shown = {})
{
    Model m{track.state(), {}, std::move(shown)};
    for (std::int32_t i = 0; i < track.count(); ++i) {
        const MidiEvent& e = track.event(i);
        m.recs.push_back({e.kind, e.delta, e.data1, e.duration, e.velocity, e.subtype, e.value, e.length, e.channel,
                          std::string(e.payloadBytes().begin(), e.payloadBytes().end())});
        m.recs.back().text.resize(static_cast<std::size_t>(std::max(e.length, 0)), '\0');
    }
    return m;
}

std::ostream& operator<<(std::ostream& out, const Rec& r)
{
    return out << "{kind 0x" << std::hex << r.kind << std::dec << " delta " << r.delta << " data1 " << r.data1
               << " duration " << r.duration << " velocity " << r.velocity << " subtype " << r.subtype << " value "
               << r.value << " length " << r.length << " channel " << r.channel << " payload '" << r.text.c_str()
               << "'}";
}

// Empty when both have the same state, records and messages.
std::string FirstDifference(const Model& got, const Model& want)
{
    std::ostringstream s;
    if (got.state != want.state)
        s << "state " << got.state << ", expected " << want.state << "; ";
    const auto [g, w] = std::mismatch(got.recs.begin(), got.recs.end(), want.recs.begin(), want.recs.end());
    if (g != got.recs.end() && w != want.recs.end())
        s << "record " << g - got.recs.begin() << ": " << *g << ", expected " << *w << "; ";
    else if (got.recs.size() != want.recs.size())
        s << got.recs.size() << " records, expected " << want.recs.size() << "; ";
    if (got.shown != want.shown)
        s << "messages " << testing::PrintToString(got.shown) << ", expected " << testing::PrintToString(want.shown);
    return s.str();
}

struct Operation {
    std::string name;
    std::function<std::int32_t(MidiTrackData&)> onTrack;
    std::function<std::int32_t(Model&)> onModel;
};

Operation VoidOp(std::string name, void (MidiTrackData::*onTrack)(), void (*onModel)(Model&))
{
    return {std::move(name), [=](MidiTrackData& t) { return (t.*onTrack)(), 0; },
            [=](Model& m) { return onModel(m), 0; }};
}
const Operation kToDuration = VoidOp("toDurationForm", &MidiTrackData::toDurationForm, ToDurationForm);
const Operation kToOnOff = VoidOp("toOnOffForm", &MidiTrackData::toOnOffForm, ToOnOffForm);
const Operation kOrder = VoidOp("orderNoteOffsFirst", &MidiTrackData::orderNoteOffsFirst, OrderNoteOffsFirst);

Operation RescaleOp(std::int32_t from, std::int32_t to, std::int32_t mode)
{
    return {"rescale " + std::to_string(from) + ">" + std::to_string(to) + " mode " + std::to_string(mode),
            [=](MidiTrackData& t) { return t.rescale(from, to, mode); },
            [=](Model& m) { return Rescale(m, from, to, mode); }};
}

Operation MergeOp(const Model& other, std::int32_t mode)
{
    const std::shared_ptr<MidiTrackData> track = Made(other);
    return {"mergeTrack mode " + std::to_string(mode), [=](MidiTrackData& t) { return t.mergeTrack(*track, mode), 0; },
            [=](Model& m) { return MergeTrack(m, other, mode), 0; }};
}

Operation MergesOp(const std::vector<Model>& sources)
{
    auto tracks = std::make_shared<std::vector<std::unique_ptr<MidiTrackData>>>();
    auto pointers = std::make_shared<std::vector<const MidiTrackData*>>();
    for (const Model& source : sources)
        pointers->push_back(tracks->emplace_back(Made(source)).get());
    return {"mergeTracks of " + std::to_string(sources.size()),
            [=](MidiTrackData& t) { return (void)tracks, t.mergeTracks(*pointers), 0; },
            [=](Model& m) { return MergeTracks(m, sources), 0; }};
}

// Every track merged with mergeTrack(track, 1), last to first, in one pass;
// moving takes the records out of the sources instead of copying them.
Operation FromLastOp(const std::vector<Model>& sources, bool moving)
{
    auto tracks = std::make_shared<std::vector<std::unique_ptr<MidiTrackData>>>();
    for (const Model& source : sources)
        tracks->emplace_back(Made(source));
    return {std::string(moving ? "mergeTracksFromLastMoving" : "mergeTracksFromLast") + " of " +
                std::to_string(sources.size()),
            [=](MidiTrackData& t) {
                std::vector<MidiTrackData*> pointers;
                for (auto& track : *tracks)
                    pointers.push_back(track.get());
                if (moving)
                    t.mergeTracksFromLastMoving(pointers);
                else
                    t.mergeTracksFromLast(std::vector<const MidiTrackData*>(pointers.begin(), pointers.end()));
                tracks->clear();  // the sources' release belongs to the run
                return 0;
            },
            [=](Model& m) {
                for (std::size_t k = sources.size(); k-- > 0;)
                    MergeTrack(m, sources[k], 1);
                return 0;
            }};
}

// Applies the operation to the model and to a track made from the same input;
// returns what the track did differently (state, records, messages, result).
std::string Apply(const Operation& op, Model& model, std::int32_t* modelResult = nullptr)
{
    test::CaptureMessages captured;
    const auto track = Made(model);
    const std::int32_t got = op.onTrack(*track), want = op.onModel(model);
    if (modelResult != nullptr)
        *modelResult = want;
    return FirstDifference(Seen(*track, captured.take()), model) +
           (got == want ? "" : "result " + std::to_string(got) + ", expected " + std::to_string(want));
}

// ---------------------------------------------------------------------------
// Random tracks as files give them: notes overlapping on one pitch, note-ons of
// velocity 0, stray note-offs, notes never ended, runs of simultaneous events,
// names and texts, End of Track missing, doubled or in mid-track; and now and
// then a delta or duration that runs backwards, as only hand-built tracks have.

Rec Ch(std::int32_t kind, std::int32_t delta, std::int32_t note, std::int32_t velocity = 100, std::int32_t channel = 0)
{
    return {.kind = kind, .delta = delta, .data1 = note, .velocity = velocity, .length = 3, .channel = channel,
            .text = std::string(3, '\0')};
}

class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}
    int upTo(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return upTo(1, 100) <= percent; }
    std::string text(int most)
    {
        std::string s(static_cast<std::size_t>(upTo(0, most)), ' ');
        for (char& c : s)
            c = static_cast<char>('a' + upTo(0, 25));
        return s;
    }

    Model track(std::int32_t form, int records, bool withNotes)
    {
        Model m{form, {}};
        const int channels[3] = {upTo(0, 15), upTo(0, 15), upTo(0, 15)};
        if (chance(75))
            m.recs.push_back(Meta(0, kName, text(90)));
        if (withNotes && chance(20))  // a GS part message, which carries a channel
            m.recs.push_back({.kind = K::SysEx, .subtype = 0x12, .value = 2, .length = 11, .channel = 9,
                              .text = "\xF0\x09\x41\x10\x42\x12\x40\x10\x15\x02\xF7"});
        while (static_cast<int>(m.recs.size()) < records) {
            const int d = upTo(1, 100), p = withNotes ? upTo(1, 100) : 100, q = upTo(1, 100);
            const int delta = d <= 50 ? 0 : d <= 82 ? upTo(1, 40) : d <= 97 ? upTo(41, 480) : upTo(481, 4000);
            Rec r = Ch(K::ControlChange, delta, chance(60) ? 60 + 2 * upTo(0, 2) : upTo(0, 127), upTo(1, 127),
                       channels[upTo(0, 2)]);
            std::tie(r.subtype, r.value) = std::tuple(upTo(0, 127), upTo(0, 127));
            if (p <= 55 && form == TrackState::Duration) {
                r.kind = K::Note;
                r.duration = q <= 80 ? upTo(1, 480) : q <= 90 ? upTo(481, 6000) : q <= 95 ? upTo(1, 4) : 0;
                r.velocity = chance(3) ? 0 : r.velocity;
            } else if (p <= 55) {  // a note-on, or a note-off of either kind
                r.kind = p <= 40 ? K::NoteOn : K::NoteOff;
                r.velocity = p > 30 ? upTo(0, p <= 40 ? 0 : 127) : r.velocity;
            } else if (p > 78) {  // a name, a text, an End of Track, or a meta the reader dropped
                r = Meta(delta, q <= 40 ? kName : q <= 60 ? 0x0A : q <= 70 ? kEnd : 1, q > 60 && q <= 70 ? "" : text(40));
                r.kind = q > 40 && q <= 60 ? K::Removed : K::Meta;
            }
            m.recs.push_back(r);
        }
        if (!m.recs.empty() && chance(10)) {
            Rec& r = m.recs[static_cast<std::size_t>(upTo(0, static_cast<int>(m.recs.size()) - 1))];
            (r.kind == K::Note ? r.duration : r.delta) = -upTo(1, 30);
        }
        if (const int end = upTo(1, 100); end <= 80)
            for (int i = end <= 8 ? 2 : 1; i > 0; --i)
                m.recs.push_back(Meta(upTo(0, 200), kEnd));
        return m;
    }

private:
    std::mt19937 rng_;
};

using Checks = std::vector<std::pair<Model, Operation>>;

// Two hundred seeds of checks; the first disagreement of each operation is reported.
void ExpectAgreement(std::uint32_t firstSeed, const std::function<Checks(Generator&)>& checks)
{
    std::set<std::string> failed;
    for (std::uint32_t seed = firstSeed; seed < firstSeed + 200; ++seed) {
        Generator gen(seed);
        for (auto [model, op] : checks(gen)) {
            const std::size_t records = model.recs.size();
            const std::string diff = failed.contains(op.name) ? "" : Apply(op, model);
            if (!diff.empty() && failed.insert(op.name).second)
                ADD_FAILURE() << op.name << ", seed " << seed << ", " << records << " records: " << diff;
        }
    }
}

TEST(TrackConversionAgreement, OnOffTracks)
{
    ExpectAgreement(1, [](Generator& gen) {
        const Model input = gen.track(TrackState::OnOff, gen.upTo(1, 200), true);
        return Checks{{input, kToDuration}, {input, kOrder},
                      {input, VoidOp("compact", &MidiTrackData::compact, Compact)}};
    });
}

TEST(TrackConversionAgreement, DurationTracksRescaledAndBackToOnOff)
{
    ExpectAgreement(1001, [](Generator& gen) {
        const Model input = gen.track(TrackState::Duration, gen.upTo(1, 130), true);
        Checks checks{{input, kToOnOff}};
        for (auto [from, to, mode] : {std::tuple{480, 96, 0}, {480, 96, 1}, {96, 480, 0}, {97, 96, 0}, {96, 97, 1}})
            checks.emplace_back(input, RescaleOp(from, to, mode));
        return checks;
    });
}

TEST(TrackConversionAgreement, Merges)
{
    ExpectAgreement(2001, [](Generator& gen) {
        std::vector<Model> models;
        for (int i = 0; i < 8; ++i)  // a fifth without channel events, as a conductor track
            models.push_back(gen.track(TrackState::Duration, gen.upTo(0, 30), !gen.chance(20)));
        Checks checks{{models[0], MergeOp(models[1], 0)}, {models[0], MergeOp(models[1], 1)}};
        // The target's own records go; half the time it has some.
        const Model target{TrackState::Duration, gen.chance(50) ? models[0].recs : std::vector<Rec>{}};
        for (std::ptrdiff_t n : {1, 2, 7}) {
            const std::vector<Model> sources(models.begin() + 1, models.begin() + 1 + n);
            checks.emplace_back(target, MergesOp(sources));
            checks.emplace_back(target, FromLastOp(sources, false));
            checks.emplace_back(Model{TrackState::Duration, {}}, FromLastOp(sources, gen.chance(50)));
        }
        return checks;
    });
}

// ---------------------------------------------------------------------------
// Fixed cases: small worked examples, which pin the model too, and the
// error paths that random tracks do not take.

Rec On(std::int32_t delta, std::int32_t note, std::int32_t velocity = 100)
{
    return Ch(K::NoteOn, delta, note, velocity);
}
Rec Off(std::int32_t delta, std::int32_t note) { return Ch(K::NoteOff, delta, note, 0); }
Rec Cc(std::int32_t delta, std::int32_t channel = 0) { return Ch(K::ControlChange, delta, 0, 0, channel); }
Rec End(std::int32_t delta) { return Meta(delta, kEnd); }
// The note-off that the on/off conversion makes: a fresh record, velocity 64.
Rec MadeOff(std::int32_t delta, std::int32_t note)
{
    return {.kind = K::NoteOff, .delta = delta, .data1 = note, .velocity = 64, .channel = 0};
}
Rec NoteRec(std::int32_t delta, std::int32_t note, std::int32_t duration)
{
    Rec r = Ch(K::Note, delta, note);
    r.duration = duration;
    return r;
}
Model Track(std::int32_t state, std::vector<Rec> recs, Strings shown = {})
{
    return {state, std::move(recs), std::move(shown)};
}

// The track and the model agree, and the model gives the expected records,
// messages and result.
void ExpectCase(const Operation& op, Model model, const Model& expected, std::int32_t result = 0)
{
    std::int32_t got = 0;
    EXPECT_EQ(Apply(op, model, &got), "") << op.name << ": the track differs from the model";
    EXPECT_EQ(FirstDifference(model, expected), "") << op.name;
    EXPECT_EQ(got, result) << op.name;
}

TEST(TrackConversionCases, FixedExamples)
{
    ExpectCase(kToDuration, Track(1, {On(0, 60), Off(96, 60), End(0)}), Track(2, {NoteRec(0, 60, 96), End(96)}));
    // Overlapping notes of one pitch pair first-on with first-off.
    ExpectCase(kToDuration, Track(1, {On(0, 60), On(10, 60), Off(10, 60), Off(10, 60)}),
               Track(2, {NoteRec(0, 60, 20), NoteRec(10, 60, 20)}));
    // A note never ended and a stray note-off go, their deltas passed on.
    ExpectCase(kToDuration, Track(1, {Cc(5), On(5, 61), Off(3, 62), Cc(7)}), Track(2, {Cc(5), Cc(15)}));
    // A note ending after the End of Track takes the End of Track along.
    ExpectCase(kToOnOff, Track(2, {NoteRec(0, 60, 96), End(48)}), Track(1, {On(0, 60), MadeOff(96, 60), End(0)}));
    ExpectCase(kOrder, Track(1, {On(10, 60), Off(0, 62)}), Track(1, {Off(10, 62), On(0, 60)}));
    // Remainders 2, 4 and 1 carried; a duration of 3 becomes 1, or goes with mode 1.
    const Model sevens = Track(2, {Cc(7), Cc(7), NoteRec(7, 60, 3), Cc(7)});
    ExpectCase(RescaleOp(480, 96, 0), sevens, Track(2, {Cc(1), Cc(1), NoteRec(2, 60, 1), Cc(1)}), 1);
    ExpectCase(RescaleOp(480, 96, 1), sevens, Track(2, {Cc(1), Cc(1), Cc(3)}), 1);
    // At equal times the other track's record comes first.
    ExpectCase(MergeOp(Track(2, {Cc(10, 1)}), 0), Track(2, {Cc(10, 0)}), Track(2, {Cc(10, 1), Cc(0, 0), End(0)}));

    // Times beyond 32 bits are clamped.
    ExpectCase(kToDuration, Track(1, {On(0, 60), Cc(INT32_MAX), Off(10, 60)}),
               Track(2, {NoteRec(0, 60, INT32_MAX), Cc(INT32_MAX)}));
    ExpectCase(kToOnOff, Track(2, {NoteRec(0, 60, INT32_MAX), Cc(1 << 30), Cc(1 << 30), Cc(1 << 30)}),
               Track(1, {On(0, 60), Cc(1 << 30), MadeOff((1 << 30) - 1, 60), Cc(1), Cc(1 << 30)}));
    ExpectCase(RescaleOp(96, 480, 0), Track(2, {NoteRec(1 << 30, 60, 1 << 30)}),
               Track(2, {NoteRec(INT32_MAX, 60, INT32_MAX)}));
}

TEST(TrackConversionCases, MergedTrackNames)
{
    const auto named = [](const std::string& name, std::int32_t channel, std::int32_t kind = K::ControlChange) {
        Model m = Track(2, {Ch(kind, 0, 0, 0, channel)});
        if (!name.empty())
            m.recs.insert(m.recs.begin(), Meta(0, kName, name));
        return m;
    };
    const std::string a62(62, 'a'), b62(62, 'b');
    const std::tuple<Model, Model, std::int32_t, Strings> cases[] = {
        {named("Piano", 0), named("", 1), 1, {"Piano / "}},
        {named("", 0), named("Bass", 1), 1, {"Bass"}},
        {named(a62, 0), named(b62, 1), 1, {a62 + " / " + b62}},
        {named(a62, 0), named(b62 + "b", 1), 1, {"long name"}},
        // Without the join the other track loses its name only if it has a channel event.
        {named("A", 0), named("B", 1), 0, {"A"}},
        {named("A", 0), named("B", 9, K::SysEx), 0, {"B", "A"}},
    };
    for (auto [model, other, mode, names] : cases) {
        EXPECT_EQ(Apply(MergeOp(other, mode), model), "");
        Strings got;
        for (const Rec& r : model.recs)
            if (IsMeta(r, kName))
                got.push_back(r.text);
        EXPECT_EQ(got, names) << "mode " << mode;
    }
}

TEST(TrackConversionCases, ErrorPaths)
{
    const Model onOff = Track(1, {NoteRec(0, 60, 96), Cc(7)});
    const Model duration = Track(2, {On(10, 60, 0), Off(0, 61), On(0, 62)});
    const std::pair<const Model*, Operation> cases[] = {
        {&onOff, kToOnOff}, {&onOff, RescaleOp(480, 96, 0)}, {&duration, kToDuration}, {&duration, kOrder},
        {&duration, VoidOp("noteOnZeroToNoteOff", &MidiTrackData::noteOnZeroToNoteOff, NoteOnZeroToNoteOff)},
        {&duration, RescaleOp(0, 96, 0)}, {&duration, RescaleOp(96, 0, 0)}, {&duration, RescaleOp(-96, 96, 0)},
    };
    for (const auto& [input, op] : cases)
        ExpectCase(op, *input, Track(input->state, input->recs, {kInternal}));
    ExpectCase(MergesOp({}), duration, Track(2, duration.recs, {kCatchAll}));
    // A note-off before its note-on: the negative duration is reported and kept.
    ExpectCase(kToDuration, Track(1, {On(0, 60), Off(-5, 60)}), Track(2, {NoteRec(0, 60, -5)}, {kInternal}));

    // A track not in duration form is merged as an empty one.
    const Model lead = Track(2, {Meta(0, kName, "Lead"), Cc(4)}), plain = Track(1, {Cc(4)});
    ExpectCase(MergesOp({Track(2, {Cc(5, 1)}), plain}), lead, Track(2, {Cc(5, 1), End(0)}, {kInternal}));
    ExpectCase(MergeOp(plain, 0), lead, Track(2, {Meta(0, kName, "Lead"), Cc(4), End(0)}, {kInternal}));
    ExpectCase(MergeOp(lead, 0), plain, Track(1, {Cc(4), End(0)}, {kInternal}));
}

TEST(TrackConversionCases, MasterVolume)
{
    MidiTrackData::Notices().report(0);
    test::CaptureMessages captured;
    const auto track = Made(Track(2, {Cc(5)}));
    EXPECT_EQ(track->findMasterVolume(), -1);
    track->insertMasterVolume(100);
    EXPECT_EQ(track->findMasterVolume(), 100);
    Rec volume = Meta(0, 1, std::string("\xF0\x07\x7F\x7F\x04\x01\x00\x64\xF7", 9));
    std::tie(volume.kind, volume.value) = std::tuple(K::SysEx, 100);
    EXPECT_EQ(FirstDifference(Seen(*track, captured.take()), Track(2, {volume, Cc(5)})), "");
    // The last one in the list counts; a second one is noticed once.
    track->insertMasterVolume(90);
    EXPECT_EQ(track->findMasterVolume(), 100);
    EXPECT_EQ(track->findMasterVolume(), 100);
    EXPECT_EQ(captured.take(), Strings{"複数のマスターボリュームが設定されています。"});
    // A volume above 127 is reported and stored all the same.
    track->insertMasterVolume(200);
    EXPECT_EQ(captured.take(), Strings{kInternal});
    EXPECT_EQ(std::tuple(track->event(0).value, track->event(0).payloadByte(7)), std::tuple(200, 200));
}

TEST(TrackConversionCases, MergeCopiesReportLongPayloadsOnRelease)
{
    test::CaptureMessages captured;
    {
        Model long300 = Track(2, {Meta(0, 1, std::string(300, 'x')), Meta(0, 0x7F, std::string(300, 'y'))});
        const auto track = Made(long300);
        track->mergeTrack(MidiTrackData(TrackState::Duration), 0);
        EXPECT_EQ(captured.take(), Strings{kCatchAll}) << "the copy of this track is released";
        long300.recs.push_back(End(0));
        EXPECT_EQ(FirstDifference(Seen(*track), long300), "");
    }
    EXPECT_EQ(captured.take(), Strings{kCatchAll});
}

// Songs split from format 0 carry End of Track records of length 3. When the
// whole song sits at tick 0, merging one by one ends it with a fresh End of
// Track, not with a track's own; the one-pass merge must do the same.
TEST(TrackConversionCases, OnePassMergeEndsLikeMergesOneByOne)
{
    Rec ownEnd = End(0);
    ownEnd.length = 3;
    ownEnd.text = std::string("\xFF\x2F\x00", 3);
    for (std::int32_t at : {0, 5}) {
        Rec lateEnd = ownEnd;
        lateEnd.delta = at;
        const std::vector<Model> sources{Track(2, {Cc(0, 0), ownEnd}), Track(2, {lateEnd})};
        for (bool moving : {false, true}) {
            Model target = Track(2, {});
            EXPECT_EQ(Apply(FromLastOp(sources, moving), target), "") << "end at " << at << (moving ? " moving" : "");
        }
    }
}

// Merged one by one, each merge builds its list from the list so far (one End
// of Track, the name) and the next track, so "Large data" shows only where
// that passes the limit, once per such merge: never for the seventeen tracks
// split from a format-0 song just under the size limit, each with its own End
// of Track.
TEST(TrackConversionCases, OnePassMergeShowsLargeDataAsMergesOneByOne)
{
    const auto track = [](std::size_t records) {
        auto made = std::make_unique<MidiTrackData>(TrackState::Duration);
        made->reserve(records + 1);
        for (std::size_t i = 0; i < records; ++i) {
            MidiEvent event(1);
            event.kind = EventKind::ChannelPressure;
            event.channel = 0;
            made->append(std::move(event));
        }
        made->appendEndOfTrack(0);
        return made;
    };
    const auto merged = [](std::vector<std::unique_ptr<MidiTrackData>> tracks) {
        test::CaptureMessages captured;
        std::vector<MidiTrackData*> pointers;
        for (auto& t : tracks)
            pointers.push_back(t.get());
        MidiTrackData target(TrackState::Duration);
        target.mergeTracksFromLastMoving(pointers);
        return std::pair(captured.take(), target.count());
    };
    std::vector<std::unique_ptr<MidiTrackData>> split;
    for (int t = 0; t < 17; ++t)
        split.push_back(track(t == 0 ? 28'918 : 28'912));  // 491,510 records and 17 Ends of Track
    EXPECT_EQ(merged(std::move(split)), std::pair(Strings{}, 491'512));

    std::vector<std::unique_ptr<MidiTrackData>> two;
    two.push_back(track(250'000));
    two.push_back(track(241'520));
    EXPECT_EQ(merged(std::move(two)), std::pair(Strings{kLargeData}, 491'522));
}

}  // namespace
}  // namespace sonrigo
