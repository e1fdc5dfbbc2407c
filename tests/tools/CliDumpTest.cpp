#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CliDump.h"
#include "common/ScopedMessageCapture.h"
#include "support/SmfBytes.h"
#include "support/TempDir.h"

namespace sonrigo {
namespace {

// Quotes, backslashes and control characters are escaped; valid UTF-8 is
// kept; every byte of anything else is escaped on its own.
TEST(CliDumpJsonString, EscapesWhatJsonNeedsAndEveryByteThatIsNotUtf8)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"a\"b\\c", R"("a\"b\\c")"},
        {std::string_view("\n\t\x1f\0\x7f", 5), R"("\u000a\u0009\u001f\u0000)" "\x7f\""},
        {"\xC3\xA9 \xE3\x81\x82 \xF0\x9F\x8E\xB5", "\"\xC3\xA9 \xE3\x81\x82 \xF0\x9F\x8E\xB5\""},
        {"\xB8\xE8", R"("\u00b8\u00e8")"},                      // GBK
        {"\xC0\xAF", R"("\u00c0\u00af")"},                      // overlong
        {"\xED\xA0\x80", R"("\u00ed\u00a0\u0080")"},            // surrogate
        {"\xF4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},  // past U+10FFFF
        {"x\xE3\x81", R"("x\u00e3\u0081")"},                    // cut short
        {"\xE3\x81\"", R"("\u00e3\u0081\"")"},
    };
    for (const auto& [text, json] : cases) {
        std::string out;
        AppendJsonString(out, text);
        EXPECT_EQ(out, json);
    }
}

std::string DumpToString(const std::vector<std::string>& args, int& status)
{
    std::FILE* file = std::tmpfile();
    status = RunDump(args, file);
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

TEST(CliDump, PrintsMessagesFirstAndPayloadsOnlyWhereStored)
{
    test::TempDir dir;
    using test::Ev;
    const std::string path = dir.write("song.mid", test::Smf(1, 1, 96, {{
        Ev(0, {0xFF, 0x00, 0x02, 0x00, 0x07}),  // sequence number: kept in no payload
        Ev(0, {0xFF, 0x01, 0x03, 'a', 'b', 'c'}), Ev(0, {0x90, 0x3C, 0x40}), Ev(0x60, {0x80, 0x3C, 0x00}),
        Ev(0, {0xFF, 0x2F, 0x00})}}));
    ScopedMessageCapture captured;
    int status = -1;
    const std::string out = DumpToString({path}, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind("{\"message\": ", 0), 0u) << out;
    EXPECT_NE(out.find("\"subtype\": 0, \"value\": 0, \"length\": 2, \"payload\": \"\"}\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\"subtype\": 1, \"value\": 0, \"length\": 3, \"payload\": \"616263\"}\n"), std::string::npos)
        << out;
    EXPECT_TRUE(captured.take().empty()) << "the dump's messages go to its output only";
}

}  // namespace
}  // namespace sonrigo
