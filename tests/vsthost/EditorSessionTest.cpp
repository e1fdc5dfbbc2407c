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
