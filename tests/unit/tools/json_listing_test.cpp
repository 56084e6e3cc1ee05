#include "engine/json_listing.h"

#include <gtest/gtest.h>

#include "format/record_stream.h"

namespace winqor {
namespace {

struct EscapeCase {
    const char* what;
    std::u16string name;
    std::string json;
};

const EscapeCase kEscapes[] = {
    {"plain", u"a.txt", R"("a.txt")"},
    {"quote and backslash", u"say \"hi\"\\", R"("say \"hi\"\\")"},
    {"C0 controls", u"\x01\n\x1f", R"("\u0001\u000a\u001f")"},
    {"DEL and a C1 control", u"\x7f\x85", R"("\u007f\u0085")"},
    {"outside ASCII", u"donn\u00e9es/\u65e5\u672c",
     "\"donn\xc3\xa9"
     "es/\xe6\x97\xa5\xe6\x9c\xac\""},
    {"a surrogate pair", u"\xD83D\xDE00", "\"\xf0\x9f\x98\x80\""},
    {"a lone high surrogate at the end", std::u16string(u"a") + char16_t(0xD800), R"("a\ud800")"},
    {"a lone low surrogate", std::u16string(1, char16_t(0xDC00)) + u"b", R"("\udc00b")"},
    {"a high surrogate before a letter", std::u16string(1, char16_t(0xD800)) + u"x",
     R"("\ud800x")"},
    {"a pair the wrong way round", {char16_t(0xDC00), char16_t(0xD800)}, R"("\udc00\ud800")"},
};

TEST(JsonStringTest, EveryNameGivesValidJson) {
    for (const auto& c : kEscapes) EXPECT_EQ(JsonString(c.name), c.json) << c.what;
}

TEST(JsonListingSinkTest, PrintsFoldersBelowTheRootAndFilesWithTheirPathsAndKeptExecuteBits) {
    std::string out;
    JsonListingSink sink([&out](std::string_view line) { out += line; });
    const char16_t* sub[] = {u"sub", u"deep"};
    EXPECT_TRUE(sink.Directory(u"", nullptr, 0));
    EXPECT_TRUE(sink.File(u"top.txt", kAttributeReadOnly, std::nullopt, nullptr, 3));
    EXPECT_TRUE(sink.Directory(u"sub\\deep", sub, 2));
    EXPECT_TRUE(sink.File(u"a.txt", 0, std::nullopt, nullptr, 12));
    EXPECT_TRUE(sink.File(u"notes", 0, 0644, nullptr, 1));
    EXPECT_TRUE(sink.File(u"tool", 0, 0701, nullptr, 2));
    EXPECT_EQ(out,
              "{\"type\":\"file\",\"path\":\"top.txt\",\"size\":3,\"readOnly\":true}\n"
              "{\"type\":\"folder\",\"path\":\"sub/deep\"}\n"
              "{\"type\":\"file\",\"path\":\"sub/deep/a.txt\",\"size\":12,\"readOnly\":false}\n"
              "{\"type\":\"file\",\"path\":\"sub/deep/notes\",\"size\":1,\"readOnly\":false,"
              "\"executable\":false}\n"
              "{\"type\":\"file\",\"path\":\"sub/deep/tool\",\"size\":2,\"readOnly\":false,"
              "\"executable\":true}\n");
}

}  // namespace
}  // namespace winqor
