#include "vsthost/EditorSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vsthost/ProbeLog.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;

constexpr std::uintptr_t kWindow = 0x2A00005;

// The dispatcher calls after the three made by load.
Strings EditorCalls(const test::ProbeLog& log)
{
    const Strings calls = log.dispatches();
    return Strings(calls.begin() + 3, calls.end());
}

class EditorSessionTest : public ::testing::Test {
protected:
    void load(const char* path) { ASSERT_TRUE(plugin.load(path)); }

    test::ProbeLog log;
    VstPlugin plugin{44100.0f, 882, 16};
};

TEST_F(EditorSessionTest, OpensWithTheWindowAndDisplayAndTakesThePluginsSize)
{
    load(SONRIGO_PROBE_PATH);
    EditorSession session(plugin);
    int display = 0;  // stands for a Display*
    const EditorSession::Layout layout = session.initialise(kWindow, &display);
    EXPECT_EQ(layout.title, "Sonrigo Probe Instrument With A ");
    EXPECT_EQ(layout.width, 500);
    EXPECT_EQ(layout.height, 300);
    EXPECT_TRUE(session.isOpen());
    EXPECT_EQ(plugin.editorWindow(), kWindow);
    // The probe answers effEditOpen with 0; the editor is open all the same.
    EXPECT_EQ(EditorCalls(log), (Strings{"45 0 0 ptr 0", "14 0 " + std::to_string(reinterpret_cast<long>(&display)) +
                                             " ptr 0",
                                         "13 0 0 ptr 0"}));
    EXPECT_EQ(log.linesStartingWith("editOpen"),
              Strings{"editOpen window " + std::to_string(kWindow) + " display " +
                      std::to_string(reinterpret_cast<long>(&display))});
}

TEST_F(EditorSessionTest, ASmallRectangleGrowsTo100AndNoRectangleGivesNoSize)
{
    VstPlugin other{44100.0f, 882, 16};
    load(SONRIGO_PROBE_SMALL_RECT_PATH);
    ASSERT_TRUE(other.load(SONRIGO_PROBE_NO_RECT_PATH));
    EditorSession small(plugin);
    EditorSession none(other);
    const EditorSession::Layout smallLayout = small.initialise(kWindow, nullptr);
    const EditorSession::Layout noneLayout = none.initialise(kWindow + 1, nullptr);
    EXPECT_EQ(smallLayout.width, 100);
    EXPECT_EQ(smallLayout.height, 100);
    EXPECT_FALSE(noneLayout.width.has_value());
    EXPECT_FALSE(noneLayout.height.has_value());
    EXPECT_TRUE(none.isOpen());
}

TEST_F(EditorSessionTest, IdlesWhileOpenAndClosesOnce)
{
    load(SONRIGO_PROBE_PATH);
    EditorSession session(plugin);
    session.idle();  // not open yet
    session.initialise(kWindow, nullptr);
    session.idle();
    session.idle();
    session.close();
    session.close();
    session.idle();
    EXPECT_FALSE(session.isOpen());
    EXPECT_EQ(plugin.editorWindow(), 0u);
    EXPECT_EQ(EditorCalls(log),
              (Strings{"45 0 0 ptr 0", "14 0 0 ptr 0", "13 0 0 ptr 0", "19 0 0 null 0", "19 0 0 null 0",
                       "15 0 0 null 0"}));
}

TEST_F(EditorSessionTest, ASessionClosedBeforeItOpenedOrWithoutAnInstanceSaysNothingToThePlugin)
{
    EditorSession unloaded(plugin);
    const EditorSession::Layout layout = unloaded.initialise(kWindow, nullptr);
    EXPECT_EQ(layout.title, "");
    EXPECT_FALSE(layout.width.has_value());
    EXPECT_FALSE(unloaded.isOpen());
    EXPECT_EQ(plugin.editorWindow(), kWindow) << "the window is recorded all the same";
    unloaded.close();
    EXPECT_EQ(plugin.editorWindow(), 0u);

    load(SONRIGO_PROBE_PATH);
    EditorSession closed(plugin);
    closed.close();
    EXPECT_EQ(closed.initialise(kWindow, nullptr).title, "");
    EXPECT_EQ(EditorCalls(log), Strings{});
    EXPECT_EQ(plugin.editorWindow(), 0u);
}

}  // namespace
}  // namespace sonrigo
