// The rows' logic against a recording view and a stub rack: the output name,
// the switches, the routes, the program numbers, and the command buttons.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "app/ChannelRows.h"
#include "app/ChannelState.h"
#include "app/CommandDispatcher.h"
#include "app/ProgramRack.h"
#include "app/RowView.h"

namespace sonrigo {
namespace {

// The row widgets as state: the spin keeps inside the range the rows give it
// at start-up (the window test checks that they do) and notifies the rows
// only when its value changes, as the dialog's spin does.
class RowRecorder final : public RowView {
public:
    struct Row {
        std::string outputName;
        std::string programName;
        std::int32_t value = 0;
        bool operator==(const Row&) const = default;
    };

    void setOutputName(std::int32_t row, std::string name) override { rows.at(row).outputName = std::move(name); }
    void setProgramName(std::int32_t row, std::string name) override { rows.at(row).programName = std::move(name); }
    std::int32_t spinValue(std::int32_t row) const override { return rows.at(row).value; }
    void setSpinRange(std::int32_t, std::int32_t, std::int32_t) override {}
    void setSpinValue(std::int32_t row, std::int32_t value) override
    {
        Row& r = rows.at(row);
        value = std::clamp(value, 1, 128);
        if (value == r.value)
            return;
        r.value = value;
        if (listener != nullptr)
            listener->onProgramNumberChanged(row);
    }
    bool switchOn(std::int32_t index) const override { return switches.at(index); }
    void setSwitch(std::int32_t index, bool on) override { switches.at(index) = on; }
    void repaint() override { ++repaints; }

    std::array<Row, 16> rows{};
    std::array<bool, 32> switches{};
    int repaints = 0;
    ChannelRows* listener = nullptr;
};

// A rack whose slots answer what the test says; it logs every program asked for.
class StubRack final : public ProgramRack {
public:
    void setProgram(std::int32_t slot, std::int32_t program) override
    {
        asked.push_back({slot, program});
        if (program < programCount)
            current = program;
    }
    std::string programName(std::int32_t) override { return "Prog " + std::to_string(current); }
    std::int32_t getProgram(std::int32_t) override { return answer ? answer() : current; }

    std::int32_t programCount = 4;
    std::int32_t current = 0;
    std::function<std::int32_t()> answer;
    std::vector<std::array<std::int32_t, 2>> asked;
};

class ChannelRowsTest : public testing::Test {
protected:
    ChannelRowsTest()
    {
        view.listener = &rows;
        rows.setMidiOutName("Midi Through Port-0");
        rows.startUp();
        state.setReady(true);
    }

    void routeToInstrument(std::int32_t row)
    {
        state.setChannelRoute(row, RouteInstrument);
        view.setOutputName(row, "synth.so");
        rows.setRack(&rack);
    }

    ChannelState state;
    RowRecorder view;
    ChannelRows rows{state, view};
    StubRack rack;
};

TEST_F(ChannelRowsTest, OutputNameIsCutToThirtyOneBytesOnACharacterBoundary)
{
    // Ten three-byte characters fill 30 bytes; the eleventh would end at 33.
    const std::string japanese = "音音音音音音音音音音音";
    const std::pair<std::string, std::string> cases[] = {
        {std::string(40, 'a'), std::string(31, 'a')},
        {japanese, japanese.substr(0, 30)},
        {std::string(40, '\x80'), std::string(31, '\x80')},  // not UTF-8: cut where it stands
    };
    for (const auto& [name, shown] : cases) {
        rows.setMidiOutName(name);
        EXPECT_EQ(rows.midiOutName(), shown);
    }
}

// A switch sets its row's flag; "All" over the channel switches turns them
// off then on whatever they show; "All" over the Fix switches turns them off
// when more than eight are lit, on otherwise.
TEST_F(ChannelRowsTest, SwitchesAndTheirAllButtonsSetTheRowFlags)
{
    view.switches[3] = true;
    rows.onSwitchButton(3);
    view.switches[16 + 4] = false;
    rows.onSwitchButton(16 + 4);
    rows.onSwitchButton(-1);
    rows.onSwitchButton(32);
    for (std::int32_t r = 0; r < 16; ++r) {
        EXPECT_EQ(state.channelProgramFixed(r), r == 3) << r;
        EXPECT_EQ(state.channelNotesOn(r), r != 4) << r;
    }

    std::fill(view.switches.begin() + 16, view.switches.end(), false);
    for (const bool on : {false, true}) {
        rows.toggleAllChannels();
        EXPECT_EQ(std::count(view.switches.begin() + 16, view.switches.end(), true), on ? 16 : 0);
        for (std::int32_t r = 0; r < 16; ++r)
            EXPECT_EQ(state.channelNotesOn(r), on) << r;
    }

    std::fill_n(view.switches.begin(), 9, true);
    rows.toggleAllFixed();
    EXPECT_EQ(std::count(view.switches.begin(), view.switches.begin() + 16, true), 0);
    std::fill_n(view.switches.begin() + 8, 8, true);
    rows.toggleAllFixed();
    EXPECT_EQ(std::count(view.switches.begin(), view.switches.begin() + 16, true), 16);
    for (std::int32_t r = 0; r < 16; ++r)
        EXPECT_TRUE(state.channelProgramFixed(r)) << r;
    EXPECT_EQ(std::count(view.switches.begin() + 16, view.switches.end(), true), 16) << "channel switches untouched";
    EXPECT_EQ(view.repaints, 4);
}

// The spin of an instrument row shows the program the instrument reports,
// whatever it reports, without asking it again; without a rack the row shows
// an empty slot, and before the window is ready nothing is asked.
TEST_F(ChannelRowsTest, InstrumentRowTakesTheProgramTheInstrumentReports)
{
    state.setChannelRoute(6, RouteInstrument);
    view.setSpinValue(6, 40);
    EXPECT_EQ(view.rows[6].programName, "");
    EXPECT_EQ(view.rows[6].value, 1);

    routeToInstrument(5);
    view.setSpinValue(5, 3);
    EXPECT_EQ(view.rows[5], (RowRecorder::Row{"synth.so", "Prog 2", 3}));
    view.setSpinValue(5, 50);  // beyond the instrument's four programs
    EXPECT_EQ((rack.asked.back()), (std::array<std::int32_t, 2>{5, 49}));
    EXPECT_EQ(view.rows[5], (RowRecorder::Row{"synth.so", "Prog 2", 3}));

    std::int32_t next = 10;
    rack.answer = [&next] { return next++; };
    rack.asked.clear();
    view.setSpinValue(5, 2);
    EXPECT_EQ(rack.asked.size(), 1U);
    EXPECT_EQ(view.rows[5].value, 11);
    // Answers beyond a program number keep the spin at its ends.
    for (const auto& [answer, shown] : {std::pair{std::numeric_limits<std::int32_t>::max(), 128},
                                        std::pair{std::numeric_limits<std::int32_t>::min(), 1}}) {
        rack.answer = [answer] { return answer; };
        view.setSpinValue(5, 2);
        EXPECT_EQ(view.rows[5].value, shown);
    }

    state.setReady(false);
    rack.asked.clear();
    view.setSpinValue(5, 7);
    EXPECT_TRUE(rack.asked.empty());
}

// The command buttons by index, the ends of each row range included. A row
// put back on the MIDI output shows its name and the General MIDI name of its
// program, and keeps its spin.
TEST_F(ChannelRowsTest, CommandButtonsReachTheirCommands)
{
    struct : DialogCommands {
        void endProgram() override { log.push_back("end"); }
        void loadSong() override { log.push_back("load"); }
        void togglePlay() override { log.push_back("play"); }
        void showHelp() override { log.push_back("help"); }
        void chooseInstrumentForAll() override { log.push_back("vst all"); }
        void chooseInstrument(std::int32_t row) override { log.push_back("vst " + std::to_string(row)); }
        std::vector<std::string> log;
    } dialog;
    const auto internalRows = [this] {
        std::string shown;
        for (std::int32_t r = 0; r < 16; ++r)
            shown += state.channelRoute(r) == RouteInternal ? 'i' : '-';
        return shown;
    };
    for (std::int32_t r = 0; r < 16; ++r)
        routeToInstrument(r);
    view.setSpinValue(0, 3);
    CommandDispatcher dispatcher(dialog, rows);
    for (std::int32_t index : {0, 1, 2, 3, 4, 6, 21, 22, 23, 38, 39, 40, -1})
        dispatcher.onCommandButton(index);
    EXPECT_EQ(dialog.log, (std::vector<std::string>{"end", "load", "play", "help", "vst all", "vst 0", "vst 15"}));
    EXPECT_FALSE(state.channelNotesOn(0));
    EXPECT_TRUE(state.channelProgramFixed(0));
    EXPECT_EQ(internalRows(), "i--------------i");
    EXPECT_EQ(view.rows[0], (RowRecorder::Row{"Midi Through Port-0", "Acoustic Grand Piano", 3}));
    dispatcher.onCommandButton(5);
    EXPECT_EQ(internalRows(), std::string(16, 'i'));
    EXPECT_EQ(view.rows[9], (RowRecorder::Row{"Midi Through Port-0", "---", 1}));
}

}  // namespace
}  // namespace sonrigo
