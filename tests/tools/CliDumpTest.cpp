#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "CliDump.h"
#include "support/CaptureMessages.h"
#include "support/TempDir.h"

namespace sonrigo {
namespace {

std::string Json(std::string_view text)
{
    std::string out;
    AppendJsonString(out, text);
    return out;
}

TEST(CliDumpJsonString, EscapesQuotesBackslashesAndControlCharacters)
{
    EXPECT_EQ(Json("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(Json(std::string_view("\n\t\x1f\0\x7f", 5)), R"("\u000a\u0009\u001f\u0000)" "\x7f\"");
}

TEST(CliDumpJsonString, KeepsValidUtf8AndEscapesEveryOtherByte)
{
    EXPECT_EQ(Json("\xC3\xA9 \xE3\x81\x82 \xF0\x9F\x8E\xB5"), "\"\xC3\xA9 \xE3\x81\x82 \xF0\x9F\x8E\xB5\"");
    EXPECT_EQ(Json("\xB8\xE8"), R"("\u00b8\u00e8")");                      // GBK
    EXPECT_EQ(Json("\xC0\xAF"), R"("\u00c0\u00af")");                      // overlong
    EXPECT_EQ(Json("\xED\xA0\x80"), R"("\u00ed\u00a0\u0080")");            // surrogate
    EXPECT_EQ(Json("\xF4\x90\x80\x80"), R"("\u00f4\u0090\u0080\u0080")");  // past U+10FFFF
    EXPECT_EQ(Json("x\xE3\x81"), R"("x\u00e3\u0081")");                    // cut short
    EXPECT_EQ(Json("\xE3\x81\""), R"("\u00e3\u0081\"")");
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
    const std::string path = dir.write(
        "song.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 0, 25,
                     0, 0xFF, 0x00, 0x02, 0x00, 0x07,   // sequence number: kept in no payload
                     0, 0xFF, 0x01, 0x03, 'a', 'b', 'c',
                     0, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0, 0xFF, 0x2F, 0x00});
    test::CaptureMessages captured;
    int status = -1;
    const std::string out = DumpToString({path}, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind("{\"message\": ", 0), 0u) << out;
    EXPECT_NE(out.find("\n{\"division\": 96, \"count\": "), std::string::npos) << out;
    EXPECT_NE(out.find("\"subtype\": 0, \"value\": 0, \"length\": 2, \"payload\": \"\"}\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\"subtype\": 1, \"value\": 0, \"length\": 3, \"payload\": \"616263\"}\n"), std::string::npos)
        << out;
    EXPECT_TRUE(captured.take().empty()) << "the dump's messages go to its output only";

    const std::string missing = DumpToString({"--form", "tracks", dir.path() / "missing.mid"}, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(missing.find("{\"message\": "), 0u);
    EXPECT_EQ(missing.find("\"track\""), std::string::npos);
    EXPECT_EQ(DumpToString({"--form", "notes", path}, status), "");
    EXPECT_EQ(status, kDumpUsageError);
}

}  // namespace
}  // namespace sonrigo
