#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
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
const std::string kTwoVolumes = "複数のマスターボリュームが設定されています。";
constexpr std::int32_t kName = 3, kEnd = 0x2F, kTempo = 0x51;

// ---------------------------------------------------------------------------
// A plain model of a track with the conversions written out step by step,
// slow and literal. The track's own operations must give the same records.

// Payloads live in one pool, so that records copy as plain numbers.
std::vector<std::string>& Texts()
{
    static std::vector<std::string> texts{""};
    return texts;
}

struct Rec {
    std::int32_t kind = K::Removed, delta = 0, data1 = 0, duration = 0, velocity = 0, subtype = 0, value = 0,
                 length = 0, channel = kNoChannel;
    std::size_t text = 0;  // payload Texts()[text]; zeros past it up to length
    bool operator==(const Rec&) const = default;
};

struct Model {
    std::int32_t state = TrackState::Empty;
    std::vector<Rec> recs;
    Strings shown;  // messages shown on the way
};

std::int32_t Clamp32(I64 v)
{
    return static_cast<std::int32_t>(std::clamp<I64>(v, INT32_MIN, INT32_MAX));
}
bool IsEnd(const Rec& r) { return r.kind == K::Meta && r.subtype == kEnd; }
auto At(std::vector<Rec>& v, std::size_t i) { return v.begin() + static_cast<std::ptrdiff_t>(i); }

Rec Meta(std::int32_t delta, std::int32_t type, const std::string& text = {})
{
    Rec r{.kind = K::Meta, .delta = delta, .subtype = type, .length = static_cast<std::int32_t>(text.size())};
    if (!text.empty()) {
        Texts().push_back(text);
        r.text = Texts().size() - 1;
    }
    return r;
}

bool NeedState(Model& m, std::int32_t state)
{
    if (m.state != state)
        m.shown.push_back(kInternal);
    return m.state == state;
}

void RemoveAt(Model& m, std::size_t i)
{
    if (i + 1 < m.recs.size())
        m.recs[i + 1].delta += m.recs[i].delta;
    m.recs.erase(At(m.recs, i));
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
    if (NeedState(m, TrackState::OnOff))
        for (Rec& r : m.recs)
            if (r.kind == K::NoteOn && r.velocity == 0)
                r.kind = K::NoteOff;
}

void ToDurationForm(Model& m)
{
    if (!NeedState(m, TrackState::OnOff))
        return;
    NoteOnZeroToNoteOff(m);
    for (std::size_t i = 0; i < m.recs.size(); ++i) {
        if (m.recs[i].kind != K::NoteOn)
            continue;
        m.recs[i].kind = K::Note;
        I64 sum = 0;
        for (std::size_t j = i + 1; j < m.recs.size(); ++j) {
            sum += m.recs[j].delta;
            if (m.recs[j].kind == K::NoteOff && m.recs[j].channel == m.recs[i].channel &&
                m.recs[j].data1 == m.recs[i].data1) {
                m.recs[i].duration = Clamp32(sum);
                RemoveAt(m, j);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < m.recs.size();)
        m.recs[i].kind == K::NoteOff ? RemoveAt(m, i) : void(++i);
    for (Rec& r : m.recs) {
        if (r.kind == K::Note && r.duration == 0)
            r.kind = K::Removed;
        else if (r.kind == K::Note && r.duration < 0)
            m.shown.push_back(kInternal);
    }
    Compact(m);
    m.state = TrackState::Duration;
}

void OrderNoteOffsFirst(Model& m)
{
    if (!NeedState(m, TrackState::OnOff))
        return;
    for (std::size_t i = 0; i < m.recs.size(); ++i) {
        if (m.recs[i].kind != K::NoteOff)
            continue;
        for (std::size_t n = i; n-- > 0 && m.recs[n + 1].delta == 0;) {
            if (m.recs[n].kind == K::NoteOn) {
                std::swap(m.recs[n], m.recs[i]);
                std::swap(m.recs[n].delta, m.recs[i].delta);
                break;
            }
        }
    }
}

void ToOnOffForm(Model& m)
{
    if (!NeedState(m, TrackState::Duration))
        return;
    for (Rec& r : m.recs)
        if (r.kind == K::Note && (r.duration == 0 || r.velocity == 0))
            r.kind = K::Removed;
    Compact(m);
    for (std::size_t i = 0; i < m.recs.size(); ++i) {
        if (m.recs[i].kind != K::Note)
            continue;
        m.recs[i].kind = K::NoteOn;
        const I64 d = std::max(m.recs[i].duration, 0);
        m.recs[i].duration = 0;
        std::size_t k = i;
        I64 sum = 0;
        if (d > 0)
            while (++k < m.recs.size() && (sum += m.recs[k].delta) < d) {
            }
        Rec off{.kind = K::NoteOff, .data1 = m.recs[i].data1, .velocity = 64, .channel = m.recs[i].channel};
        if (k < m.recs.size()) {
            off.delta = Clamp32(m.recs[k].delta - (sum - d));
            m.recs[k].delta = Clamp32(sum - d);
        } else {
            off.delta = Clamp32(d - sum);
        }
        m.recs.insert(At(m.recs, k), off);
    }
    const auto end = std::find_if(m.recs.begin(), m.recs.end(), IsEnd);
    if (end != m.recs.end() && end + 1 != m.recs.end()) {
        (end + 1)->delta += end->delta;
        end->delta = 0;
        std::rotate(end, end + 1, m.recs.end());
    }
    m.state = TrackState::OnOff;
    OrderNoteOffsFirst(m);
}

std::int32_t Rescale(Model& m, std::int32_t from, std::int32_t to, std::int32_t mode)
{
    if (!NeedState(m, TrackState::Duration) || from == to)
        return 0;
    if (from <= 0 || to <= 0) {
        m.shown.push_back(kInternal);
        return 0;
    }
    std::int32_t result = 0;
    I64 remainder = 0;
    for (Rec& r : m.recs) {
        const I64 t = r.delta + remainder, scaled = t * to / from;
        remainder = t - scaled * from / to;
        r.delta = Clamp32(scaled);
        if (r.kind != K::Note)
            continue;
        r.duration = Clamp32(I64{r.duration} * to / from);
        if (r.duration == 0) {
            mode == 1 ? void(r.kind = K::Removed) : void(r.duration = 1);
            result = 1;
        }
    }
    Compact(m);
    return result;
}

Model CopyOf(const Model& source, Strings& shown)
{
    if (source.state != TrackState::Duration)
        shown.push_back(kInternal);
    return {TrackState::Duration, source.state == TrackState::Duration ? source.recs : std::vector<Rec>{}, {}};
}

std::string FindMetaText(const Model& m, std::int32_t type)
{
    for (const Rec& r : m.recs)
        if (r.kind == K::Meta && r.subtype == type)
            return Texts()[r.text].substr(0, static_cast<std::size_t>(r.length));
    return {};
}

void RemoveFirstMeta(Model& m, std::int32_t type)
{
    for (std::size_t i = 0; i < m.recs.size(); ++i)
        if (m.recs[i].kind == K::Meta && (m.recs[i].subtype & 0xFF) == type)
            return RemoveAt(m, i);
}

std::int32_t FirstChannel(const Model& m)
{
    for (const Rec& r : m.recs)
        if (r.channel != kNoChannel && r.kind != K::SysEx && r.kind != K::SysExEscape)
            return r.channel;
    return kNoChannel;
}

void NormaliseEndOfTrack(Model& m)
{
    for (std::size_t i = 0; i + 1 < m.recs.size();)
        IsEnd(m.recs[i]) ? RemoveAt(m, i) : void(++i);
    if (m.recs.empty() || !IsEnd(m.recs.back()))
        m.recs.push_back(Meta(0, kEnd));
}

void MergeTrack(Model& m, const Model& other, std::int32_t mode)
{
    Model a = CopyOf(m, m.shown), b = CopyOf(other, m.shown);
    if (mode == 1) {
        const std::string nameA = FindMetaText(a, kName), nameB = FindMetaText(b, kName);
        const std::string name = nameA.empty() ? nameB : nameA + " / " + nameB;
        RemoveFirstMeta(a, kName);
        RemoveFirstMeta(b, kName);
        a.recs.insert(a.recs.begin(), Meta(0, kName, name.size() >= 128 ? "long name" : name));
    } else if (mode == 0 && FirstChannel(b) != kNoChannel) {
        RemoveFirstMeta(b, kName);
    }
    m.recs.clear();
    std::size_t ia = 0, ib = 0;
    while (ia < a.recs.size() || ib < b.recs.size()) {
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

void MergeTracks(Model& m, const std::vector<const Model*>& sources)
{
    if (sources.empty())
        return m.shown.push_back(kCatchAll);
    std::vector<Model> copies;
    for (const Model* source : sources)
        copies.push_back(CopyOf(*source, m.shown));
    m.recs.clear();
    std::vector<std::size_t> pos(copies.size(), 0), live;
    for (;;) {
        live.clear();
        for (std::size_t c = 0; c < copies.size(); ++c)
            if (pos[c] < copies[c].recs.size())
                live.push_back(c);
        if (live.size() <= 1) {
            if (live.empty())
                break;
            m.recs.push_back(copies[live[0]].recs[pos[live[0]]++]);
            continue;
        }
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
            m.recs.back().delta = first ? least : 0;
            first = false;
            ++pos[c];
        }
    }
    NormaliseEndOfTrack(m);
}

// ---------------------------------------------------------------------------
// Between the model and real tracks.

std::unique_ptr<MidiTrackData> Made(const Model& m)
{
    auto track = std::make_unique<MidiTrackData>();
    for (const Rec& r : m.recs) {
        auto e = std::make_unique<MidiEvent>(r.delta);
        const std::string& text = Texts()[r.text];
        if (!text.empty())
            e->storePayload({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
        std::tie(e->kind, e->data1, e->duration, e->velocity, e->subtype, e->value, e->length, e->channel) =
            std::tie(r.kind, r.data1, r.duration, r.velocity, r.subtype, r.value, r.length, r.channel);
        track->append(std::move(e));
    }
    track->setState(m.state);
    return track;
}

// The first `length` payload bytes, zeros past what is stored.
std::string Padded(std::span<const std::uint8_t> bytes, std::int32_t length)
{
    std::string padded(bytes.begin(), bytes.end());
    padded.resize(static_cast<std::size_t>(std::max(length, 0)), '\0');
    return padded;
}

std::string Describe(const Rec& r, const std::string& payload)
{
    std::ostringstream s;
    s << "{kind 0x" << std::hex << r.kind << std::dec << " delta " << r.delta << " data1 " << r.data1 << " duration "
      << r.duration << " velocity " << r.velocity << " subtype " << r.subtype << " value " << r.value << " length "
      << r.length << " channel " << r.channel << " payload '" << payload.c_str() << "'}";
    return s.str();
}

// Empty when the track holds exactly the model's records, in its state.
std::string FirstDifference(const MidiTrackData& track, const Model& m)
{
    std::ostringstream s;
    if (track.state() != m.state)
        s << "state " << track.state() << ", expected " << m.state << "; ";
    const auto count = static_cast<std::size_t>(track.count());
    for (std::size_t i = 0; i < std::min(count, m.recs.size()); ++i) {
        const MidiEvent& e = track.event(static_cast<std::int32_t>(i));
        const Rec& want = m.recs[i];
        const Rec got{e.kind, e.delta, e.data1, e.duration, e.velocity, e.subtype, e.value, e.length, e.channel, want.text};
        const std::string& text = Texts()[want.text];
        const std::string wanted = Padded({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, want.length);
        if (got != want || (want.length > 0 && Padded(e.payloadBytes(), e.length) != wanted)) {
            s << "record " << i << ": " << Describe(got, Padded(e.payloadBytes(), e.length)) << ", expected "
              << Describe(want, wanted);
            return s.str();
        }
    }
    if (count != m.recs.size())
        s << count << " records, expected " << m.recs.size();
    return s.str();
}

// ---------------------------------------------------------------------------
// Random tracks as files give them: notes overlapping on one pitch, note-ons of
// velocity 0, stray note-offs, notes never ended, runs of simultaneous events,
// controllers, names, tempi, End of Track missing, doubled or in mid-track.

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
    std::int32_t delta()
    {
        const int p = upTo(1, 100);
        return p <= 50 ? 0 : p <= 82 ? upTo(1, 40) : p <= 97 ? upTo(41, 480) : upTo(481, 4000);
    }

    Model track(std::int32_t form, int records, bool withNotes)
    {
        Model m{form, {}, {}};
        const int channels[3] = {upTo(0, 15), upTo(0, 15), upTo(0, 15)};
        std::vector<std::pair<int, int>> open;  // channel and note of the notes begun
        if (chance(75))
            m.recs.push_back(Meta(0, kName, text(90)));
        if (withNotes && chance(20)) {  // a GS part message, which carries a channel
            m.recs.push_back(Meta(0, 0, "\xF0\x09\x41\x10\x42\x12\x40\x10\x15\x02\xF7"));
            std::tie(m.recs.back().kind, m.recs.back().subtype, m.recs.back().value, m.recs.back().channel) =
                std::tuple(K::SysEx, 0x12, 2, 9);
        }
        while (static_cast<int>(m.recs.size()) < records) {
            Rec r{.delta = delta(), .data1 = chance(60) ? 60 + 2 * upTo(0, 2) : upTo(0, 127),
                  .velocity = upTo(1, 127), .length = 3, .channel = channels[upTo(0, 2)]};
            const int p = withNotes ? upTo(1, 100) : 100, q = upTo(1, 100);
            if (p <= 55 && form == TrackState::Duration) {
                r.kind = K::Note;
                r.duration = q <= 80 ? upTo(1, 480) : q <= 90 ? upTo(481, 6000) : q <= 95 ? upTo(1, 4) : 0;
                r.velocity = chance(3) ? 0 : r.velocity;
            } else if (p <= 30) {
                r.kind = K::NoteOn;
                open.emplace_back(r.channel, r.data1);
            } else if (p <= 55) {  // mostly ends a note begun
                r.kind = p <= 40 ? K::NoteOn : K::NoteOff;
                r.velocity = p <= 40 ? 0 : upTo(0, 127);
                if (!open.empty() && q <= 75) {
                    const auto which = open.begin() + upTo(0, static_cast<int>(open.size()) - 1);
                    std::tie(r.channel, r.data1) = *which;
                    open.erase(which);
                }
            } else if (p <= 78) {
                r.kind = p <= 72 ? K::ControlChange : p <= 75 ? K::ProgramChange : K::PitchBend;
                r.subtype = p <= 72 ? upTo(0, 127) : 0;
                r.value = upTo(0, 127);
                r.length = p <= 75 && p > 72 ? 2 : 3;
            } else if (q <= 30) {
                r = Meta(r.delta, kTempo);
                r.value = upTo(300000, 900000);
                r.length = 3;
            } else {
                r = Meta(r.delta, q <= 40 ? kName : q <= 60 ? 0x0A : q <= 70 ? kEnd : 1, q <= 70 && q > 60 ? "" : text(40));
                r.kind = q <= 60 && q > 40 ? K::Removed : K::Meta;  // a meta the reader dropped
            }
            m.recs.push_back(r);
        }
        const int end = upTo(1, 100);
        if (end <= 80)
            m.recs.push_back(Meta(upTo(0, 200), kEnd));
        if (end <= 8)
            m.recs.push_back(Meta(upTo(0, 50), kEnd));
        return m;
    }

private:
    std::mt19937 rng_;
};

struct Operation {
    std::string name;
    std::function<std::int32_t(MidiTrackData&)> onTrack;
    std::function<std::int32_t(Model&)> onModel;
};

// Runs operations on tracks and on their models and reports the first two
// disagreements of each (records, state, result, messages).
class Agreement {
public:
    void check(const Operation& op, std::uint32_t seed, const Model& input)
    {
        int& failures = failures_[op.name];
        if (failures >= 2)
            return;
        test::CaptureMessages captured;
        const auto track = Made(input);
        Model expected = input;
        const std::int32_t got = op.onTrack(*track), want = op.onModel(expected);
        std::string diff = FirstDifference(*track, expected);
        if (got != want)
            diff += " result " + std::to_string(got) + ", expected " + std::to_string(want);
        const Strings shown = captured.take();
        if (shown != expected.shown)
            diff += " " + std::to_string(shown.size()) + " messages, expected " + std::to_string(expected.shown.size());
        if (!diff.empty()) {
            ++failures;
            ADD_FAILURE() << op.name << ", seed " << seed << ", " << input.recs.size() << " records: " << diff;
        }
    }

private:
    std::map<std::string, int> failures_;
};

constexpr std::uint32_t kSeeds = 200;

TEST(TrackConversionAgreement, OnOffTracks)
{
    const Operation ops[] = {
        {"toDurationForm", [](MidiTrackData& t) { return t.toDurationForm(), 0; },
         [](Model& m) { return ToDurationForm(m), 0; }},
        {"compact", [](MidiTrackData& t) { return t.compact(), 0; }, [](Model& m) { return Compact(m), 0; }},
        {"orderNoteOffsFirst", [](MidiTrackData& t) { return t.orderNoteOffsFirst(), 0; },
         [](Model& m) { return OrderNoteOffsFirst(m), 0; }},
    };
    Agreement agreement;
    for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
        Generator gen(seed);
        const Model input = gen.track(TrackState::OnOff, gen.upTo(1, 200), true);
        for (const Operation& op : ops)
            agreement.check(op, seed, input);
    }
}

TEST(TrackConversionAgreement, DurationTracksRescaledAndBackToOnOff)
{
    std::vector<Operation> ops = {{"toOnOffForm", [](MidiTrackData& t) { return t.toOnOffForm(), 0; },
                                   [](Model& m) { return ToOnOffForm(m), 0; }}};
    for (auto [from, to, mode] : {std::tuple{480, 96, 0}, {480, 96, 1}, {96, 480, 0}, {97, 96, 0}, {96, 97, 1}})
        ops.push_back({"rescale " + std::to_string(from) + ">" + std::to_string(to) + " mode " + std::to_string(mode),
                       [=](MidiTrackData& t) { return t.rescale(from, to, mode); },
                       [=](Model& m) { return Rescale(m, from, to, mode); }});
    Agreement agreement;
    for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
        Generator gen(seed + 1000);
        const Model input = gen.track(TrackState::Duration, gen.upTo(1, 130), true);
        for (const Operation& op : ops)
            agreement.check(op, seed, input);
    }
}

TEST(TrackConversionAgreement, Merges)
{
    Agreement agreement;
    for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
        Generator gen(seed + 2000);
        std::vector<Model> models;
        std::vector<std::unique_ptr<MidiTrackData>> tracks;
        for (int i = 0; i < 8; ++i) {  // a fifth without channel events, as a conductor track
            models.push_back(gen.track(TrackState::Duration, gen.upTo(0, 30), !gen.chance(20)));
            tracks.push_back(Made(models.back()));
        }
        for (std::int32_t mode : {0, 1})
            agreement.check({"mergeTrack mode " + std::to_string(mode),
                             [&](MidiTrackData& t) { return t.mergeTrack(*tracks[1], mode), 0; },
                             [&](Model& m) { return MergeTrack(m, models[1], mode), 0; }},
                            seed, models[0]);
        for (std::size_t n : {1, 2, 7}) {
            std::vector<const MidiTrackData*> sources;
            std::vector<const Model*> sourceModels;
            for (std::size_t i = 1; i <= n; ++i) {
                sources.push_back(tracks[i].get());
                sourceModels.push_back(&models[i]);
            }
            // The target's own records go; odd seeds give it some.
            const Model target{TrackState::Duration, seed % 2 ? models[0].recs : std::vector<Rec>{}, {}};
            agreement.check({"mergeTracks of " + std::to_string(n),
                             [&](MidiTrackData& t) { return t.mergeTracks(sources), 0; },
                             [&](Model& m) { return MergeTracks(m, sourceModels), 0; }},
                            seed, target);
        }
    }
}

// ---------------------------------------------------------------------------
// Hand-written cases.

Rec Ch(std::int32_t kind, std::int32_t delta, std::int32_t note, std::int32_t velocity = 100, std::int32_t channel = 0)
{
    return {.kind = kind, .delta = delta, .data1 = note, .velocity = velocity, .length = 3, .channel = channel};
}
Rec On(std::int32_t delta, std::int32_t note, std::int32_t velocity = 100, std::int32_t channel = 0)
{
    return Ch(K::NoteOn, delta, note, velocity, channel);
}
Rec Off(std::int32_t delta, std::int32_t note) { return Ch(K::NoteOff, delta, note, 0); }
// The note-off that the on/off conversion makes: a fresh record, velocity 64.
Rec MadeOff(std::int32_t delta, std::int32_t note)
{
    return {.kind = K::NoteOff, .delta = delta, .data1 = note, .velocity = 64, .channel = 0};
}
Rec NoteRec(std::int32_t delta, std::int32_t note, std::int32_t duration, std::int32_t velocity = 100)
{
    Rec r = Ch(K::Note, delta, note, velocity);
    r.duration = duration;
    return r;
}
Rec Cc(std::int32_t delta, std::int32_t channel = 0)
{
    Rec r = Ch(K::ControlChange, delta, 0, 0, channel);
    r.subtype = 7;
    return r;
}
Rec End(std::int32_t delta) { return Meta(delta, kEnd); }
Model Track(std::int32_t state, std::vector<Rec> recs) { return {state, std::move(recs), {}}; }

// Each input, converted, must give the records beside it, silently.
void ExpectConversions(const std::vector<std::pair<Model, Model>>& cases,
                       const std::function<void(MidiTrackData&)>& convert)
{
    test::CaptureMessages captured;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto track = Made(cases[i].first);
        convert(*track);
        EXPECT_EQ(FirstDifference(*track, cases[i].second), "") << "case " << i;
    }
    EXPECT_EQ(captured.take(), Strings{});
}

TEST(TrackConversionCases, DurationFormPairsFirstOnWithFirstOff)
{
    ExpectConversions(
        {
            {Track(1, {On(0, 60), Off(96, 60), End(0)}), Track(2, {NoteRec(0, 60, 96), End(96)})},
            // Overlapping notes of one pitch.
            {Track(1, {On(0, 60), On(10, 60), Off(10, 60), Off(10, 60)}),
             Track(2, {NoteRec(0, 60, 20), NoteRec(10, 60, 20)})},
            // A note never ended and a stray note-off go, their deltas passed on.
            {Track(1, {Cc(5), On(5, 61), Off(3, 62), Cc(7)}), Track(2, {Cc(5), Cc(15)})},
            // Velocity 0 ends a note of its own channel only, also after the End of Track.
            {Track(1, {On(0, 60), On(0, 60, 100, 1), End(10), On(20, 60, 0)}), Track(2, {NoteRec(0, 60, 30), End(10)})},
            // A duration beyond 32 bits is clamped.
            {Track(1, {On(0, 60), Cc(INT32_MAX), Off(10, 60)}), Track(2, {NoteRec(0, 60, INT32_MAX), Cc(INT32_MAX)})},
        },
        [](MidiTrackData& t) { t.toDurationForm(); });
}

TEST(TrackConversionCases, OnOffFormEndsNotesAndPutsNoteOffsFirst)
{
    ExpectConversions(
        {
            // A note ending after the End of Track takes the End of Track along.
            {Track(2, {NoteRec(0, 60, 96), End(48)}), Track(1, {On(0, 60), MadeOff(96, 60), End(0)})},
            {Track(2, {NoteRec(0, 60, 5), Cc(8), End(2)}), Track(1, {On(0, 60), MadeOff(5, 60), Cc(3), End(2)})},
            // The walk to the note's end sums past 32 bits.
            {Track(2, {NoteRec(0, 60, INT32_MAX), Cc(1 << 30), Cc(1 << 30), Cc(1 << 30)}),
             Track(1, {On(0, 60), Cc(1 << 30), MadeOff((1 << 30) - 1, 60), Cc(1), Cc(1 << 30)})},
            // Empty and silent notes go; a note-off comes before a note-on at its tick.
            {Track(2, {NoteRec(0, 60, 10), NoteRec(10, 62, 0), NoteRec(0, 65, 5, 0), NoteRec(0, 64, 10)}),
             Track(1, {On(0, 60), MadeOff(10, 60), On(0, 64), MadeOff(10, 64)})},
        },
        [](MidiTrackData& t) { t.toOnOffForm(); });
    ExpectConversions(
        {
            {Track(1, {On(10, 60), Off(0, 62)}), Track(1, {Off(10, 62), On(0, 60)})},
            // The nearest note-on at the same tick, past other records; none across a delta.
            {Track(1, {On(5, 60), On(0, 61), Cc(0), Off(0, 62)}), Track(1, {On(5, 60), Off(0, 62), Cc(0), On(0, 61)})},
            {Track(1, {On(0, 60), Cc(5), Off(0, 62)}), Track(1, {On(0, 60), Cc(5), Off(0, 62)})},
        },
        [](MidiTrackData& t) { t.orderNoteOffsFirst(); });

    // A negative duration counts as 0: the note-off goes in front of its note-on.
    Model negative = Track(2, {Cc(0), NoteRec(5, 60, -7), NoteRec(3, 62, 10), End(20)});
    const auto track = Made(negative);
    track->toOnOffForm();
    ToOnOffForm(negative);
    EXPECT_EQ(FirstDifference(*track, negative), "");
    EXPECT_EQ(track->event(1).kind, K::NoteOff);
}

TEST(TrackConversionCases, RescaleCarriesRemainders)
{
    const Model sevens = Track(2, {Cc(7), Cc(7), NoteRec(7, 60, 3), Cc(7)});
    ExpectConversions({{sevens, Track(2, {Cc(1), Cc(1), NoteRec(2, 60, 1), Cc(1)})}},
                      [](MidiTrackData& t) { EXPECT_EQ(t.rescale(480, 96, 0), 1); });
    ExpectConversions({{sevens, Track(2, {Cc(1), Cc(1), Cc(3)})}},
                      [](MidiTrackData& t) { EXPECT_EQ(t.rescale(480, 96, 1), 1); });
    ExpectConversions({{Track(2, {Cc(50), NoteRec(50, 60, 100), Cc(97)}), Track(2, {Cc(49), NoteRec(50, 60, 98), Cc(96)})}},
                      [](MidiTrackData& t) { EXPECT_EQ(t.rescale(97, 96, 0), 0); });
    ExpectConversions({{Track(2, {Cc(95), Cc(1), NoteRec(95, 60, 96)}), Track(2, {Cc(95), Cc(2), NoteRec(97, 60, 97)})}},
                      [](MidiTrackData& t) { EXPECT_EQ(t.rescale(96, 97, 0), 0); });
    // Results beyond 32 bits are clamped.
    ExpectConversions({{Track(2, {NoteRec(1 << 30, 60, 1 << 30)}), Track(2, {NoteRec(INT32_MAX, 60, INT32_MAX)})}},
                      [](MidiTrackData& t) { EXPECT_EQ(t.rescale(96, 480, 0), 0); });

    // Divisions that are not positive change nothing.
    test::CaptureMessages captured;
    const Model plain = Track(2, {NoteRec(96, 60, 96)});
    for (auto [from, to] : {std::pair{0, 96}, {96, 0}, {-96, 96}}) {
        const auto track = Made(plain);
        EXPECT_EQ(track->rescale(from, to, 0), 0);
        EXPECT_EQ(FirstDifference(*track, plain), "");
        EXPECT_EQ(captured.take(), Strings{kInternal}) << from << " to " << to;
    }
}

TEST(TrackConversionCases, MergesTakeTiesInTrackOrder)
{
    test::CaptureMessages captured;
    // Two tracks: the other track's record first.
    auto track = Made(Track(2, {Cc(10, 0)}));
    track->mergeTrack(*Made(Track(2, {Cc(10, 1)})), 0);
    EXPECT_EQ(FirstDifference(*track, Track(2, {Cc(10, 1), Cc(0, 0), End(0)})), "");

    // Many tracks: one record of each tied track per round, the first with the delta.
    const auto t0 = Made(Track(2, {Cc(5, 0), Cc(0, 3)})), t1 = Made(Track(2, {Cc(5, 1)})),
               t2 = Made(Track(2, {Cc(3, 2), End(2)}));
    const MidiTrackData* three[] = {t0.get(), t1.get(), t2.get()};
    track = Made(Track(2, {Cc(1)}));
    track->mergeTracks(three);
    EXPECT_EQ(FirstDifference(*track, Track(2, {Cc(3, 2), Cc(2, 0), Cc(0, 1), Cc(0, 3), End(0)})), "");
    EXPECT_EQ(captured.take(), Strings{});

    track->mergeTracks({});
    EXPECT_EQ(captured.take(), Strings{kCatchAll});
    EXPECT_EQ(track->count(), 5);

    // Any number of tracks.
    std::vector<Model> models(300);
    std::vector<std::unique_ptr<MidiTrackData>> tracks;
    std::vector<const MidiTrackData*> sources;
    std::vector<const Model*> sourceModels;
    for (int i = 0; i < 300; ++i) {
        models[i] = Track(2, {Cc(i % 7, i % 16), Cc(i % 3, 0)});
        tracks.push_back(Made(models[i]));
        sources.push_back(tracks.back().get());
        sourceModels.push_back(&models[i]);
    }
    Model expected = Track(2, {});
    MergeTracks(expected, sourceModels);
    track->mergeTracks(sources);
    EXPECT_EQ(FirstDifference(*track, expected), "");

    // A source not in duration form is merged as an empty track.
    const auto onOff = Made(Track(1, {Cc(1, 5)}));
    const MidiTrackData* mixed[] = {t1.get(), onOff.get()};
    track->mergeTracks(mixed);
    EXPECT_EQ(captured.take(), Strings{kInternal});
    EXPECT_EQ(FirstDifference(*track, Track(2, {Cc(5, 1), End(0)})), "");
    track = Made(Track(2, {Meta(0, kName, "Lead"), Cc(4)}));
    track->mergeTrack(*onOff, 0);
    EXPECT_EQ(captured.take(), Strings{kInternal});
    EXPECT_EQ(FirstDifference(*track, Track(2, {Meta(0, kName, "Lead"), Cc(4), End(0)})), "");
}

TEST(TrackConversionCases, MergedTrackNames)
{
    auto named = [](const std::string& name, std::int32_t channel, std::int32_t kind = K::ControlChange) {
        Model m = Track(2, {Cc(0, channel)});
        m.recs.back().kind = kind;
        if (!name.empty())
            m.recs.insert(m.recs.begin(), Meta(0, kName, name));
        return m;
    };
    const std::string a62(62, 'a'), b62(62, 'b'), b63(63, 'b');
    const std::tuple<Model, Model, std::int32_t, Strings> cases[] = {
        {named("Piano", 0), named("", 1), 1, {"Piano / "}},
        {named("", 0), named("Bass", 1), 1, {"Bass"}},
        {named("", 0), named("", 1), 1, {""}},
        {named(a62, 0), named(b62, 1), 1, {a62 + " / " + b62}},
        {named(a62, 0), named(b63, 1), 1, {"long name"}},
        // Without the join the other track loses its name only if it has a channel event.
        {named("A", 0), named("B", 1), 0, {"A"}},
        {named("A", 0), named("B", 9, K::SysEx), 0, {"B", "A"}},
    };
    test::CaptureMessages captured;
    for (const auto& [mine, other, mode, names] : cases) {
        const auto track = Made(mine);
        track->mergeTrack(*Made(other), mode);
        Strings got;
        for (std::int32_t i = 0; i < track->count(); ++i)
            if (track->event(i).kind == K::Meta && track->event(i).subtype == kName)
                got.emplace_back(track->event(i).payloadBytes().begin(), track->event(i).payloadBytes().end());
        EXPECT_EQ(got, names) << "mode " << mode;
    }
    EXPECT_EQ(captured.take(), Strings{});
}

TEST(TrackConversionCases, WrongStateChangesNothing)
{
    const Model onOff = Track(1, {NoteRec(0, 60, 96), Cc(7)});
    const Model duration = Track(2, {On(10, 60, 0), Off(0, 61), On(0, 62)});
    const std::pair<const Model*, std::function<void(MidiTrackData&)>> cases[] = {
        {&onOff, [](MidiTrackData& t) { t.toOnOffForm(); }},
        {&onOff, [](MidiTrackData& t) { EXPECT_EQ(t.rescale(480, 96, 0), 0); }},
        {&duration, [](MidiTrackData& t) { t.noteOnZeroToNoteOff(); }},
        {&duration, [](MidiTrackData& t) { t.toDurationForm(); }},
        {&duration, [](MidiTrackData& t) { t.orderNoteOffsFirst(); }},
    };
    test::CaptureMessages captured;
    for (const auto& [input, operation] : cases) {
        const auto track = Made(*input);
        operation(*track);
        EXPECT_EQ(FirstDifference(*track, *input), "");
        EXPECT_EQ(captured.take(), Strings{kInternal});
    }
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
    EXPECT_EQ(FirstDifference(*track, Track(2, {volume, Cc(5)})), "");
    EXPECT_EQ(captured.take(), Strings{});

    // The last one in the list counts; a second one is noticed once.
    track->insertMasterVolume(90);
    EXPECT_EQ(track->findMasterVolume(), 100);
    EXPECT_EQ(track->findMasterVolume(), 100);
    EXPECT_EQ(captured.take(), Strings{kTwoVolumes});

    track->insertMasterVolume(200);
    EXPECT_EQ(captured.take(), Strings{kInternal});
    EXPECT_EQ(track->event(0).value, 200);
    EXPECT_EQ(track->event(0).payloadByte(7), 200);
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
        EXPECT_EQ(FirstDifference(*track, long300), "");
    }
    EXPECT_EQ(captured.take(), Strings{kCatchAll});
}

}  // namespace
}  // namespace sonrigo
