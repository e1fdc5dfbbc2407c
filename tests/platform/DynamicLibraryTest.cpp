#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

namespace sonrigo {
namespace {

TEST(DynamicLibrary, FindsExportsOnlyWhileOpen)
{
    DynamicLibrary library;
    EXPECT_EQ(library.symbol("VSTPluginMain"), nullptr);
    ASSERT_TRUE(library.open(SONRIGO_PROBE_MAIN_ONLY_PATH).ok);
    EXPECT_NE(library.symbol("main"), nullptr);
    EXPECT_EQ(library.symbol("VSTPluginMain"), nullptr);
    // Only what the library exports: its helpers stay hidden.
    EXPECT_EQ(library.symbol("createProbe"), nullptr);
    library.close();
    EXPECT_FALSE(library.isOpen());
    EXPECT_EQ(library.symbol("main"), nullptr);
    library.close();
}

TEST(DynamicLibrary, ReportsTheLoadersReason)
{
    DynamicLibrary library;
    const DynamicLibrary::OpenResult result = library.open("/nonexistent/plugin.so");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("/nonexistent/plugin.so"), std::string::npos) << result.error;
    EXPECT_FALSE(library.isOpen());
}

}  // namespace
}  // namespace sonrigo
