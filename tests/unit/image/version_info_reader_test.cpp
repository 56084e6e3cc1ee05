#include "image/version_info_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/little_endian.h"

namespace winqor {
namespace {

using Strings = std::vector<std::pair<std::string, std::string>>;

void Pad4(std::vector<uint8_t>& bytes) {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
}

void AppendText(std::vector<uint8_t>& bytes, std::u16string_view text) {
    for (const char16_t unit : text) AppendLe16(bytes, unit);
    AppendLe16(bytes, 0);
}

// One block as the resource compiler writes it: head, key, value, children, each 4-aligned.
std::vector<uint8_t> Block(std::u16string_view key, const std::vector<uint8_t>& value,
                           uint32_t valueLength, uint32_t type,
                           const std::vector<std::vector<uint8_t>>& children = {}) {
    std::vector<uint8_t> bytes(6, 0);
    AppendText(bytes, key);
    Pad4(bytes);
    bytes.insert(bytes.end(), value.begin(), value.end());
    for (const auto& child : children) {
        Pad4(bytes);
        bytes.insert(bytes.end(), child.begin(), child.end());
    }
    WriteLe16(bytes.data(), static_cast<uint32_t>(bytes.size()));
    WriteLe16(bytes.data() + 2, valueLength);
    WriteLe16(bytes.data() + 4, type);
    return bytes;
}

std::vector<uint8_t> String(std::u16string_view key, std::u16string_view value) {
    std::vector<uint8_t> text;
    AppendText(text, value);
    return Block(key, text, static_cast<uint32_t>(value.size() + 1), 1);
}

std::vector<uint8_t> VersionInfo(const std::vector<std::vector<uint8_t>>& strings) {
    const std::vector<uint8_t> fixed(52, 0xEE);  // VS_FIXEDFILEINFO, not read here
    const auto table = Block(u"040904b0", {}, 0, 1, strings);
    const auto otherTable = Block(u"000004b0", {}, 0, 1, {String(u"ProductName", u"Other")});
    const auto stringInfo = Block(u"StringFileInfo", {}, 0, 1, {table, otherTable});
    const auto varInfo =
        Block(u"VarFileInfo", {}, 0, 1, {Block(u"Translation", {9, 4, 0xB0, 4}, 4, 0)});
    return Block(u"VS_VERSION_INFO", fixed, 52, 0, {varInfo, stringInfo});
}

TEST(ReadVersionStrings, ReadsTheFirstStringTableInOrder) {
    const auto info = VersionInfo({String(u"ProductName", u"Acme Tool"),
                                   String(u"FileVersion", u"1.2.3.4"), String(u"Comments", u"")});
    Strings strings;
    ASSERT_TRUE(ReadVersionStrings(info, strings));
    const Strings expected = {
        {"ProductName", "Acme Tool"}, {"FileVersion", "1.2.3.4"}, {"Comments", ""}};
    EXPECT_EQ(strings, expected);
}

TEST(ReadVersionStrings, RefusesWhatDoesNotHoldTogether) {
    const auto good = VersionInfo({String(u"ProductName", u"Acme Tool")});
    std::vector<uint8_t> wrongKey = good;
    wrongKey[6] = 'X';
    std::vector<uint8_t> longer = good;
    WriteLe16(longer.data(), static_cast<uint32_t>(good.size() + 2));
    // The first child (VarFileInfo) claims less than a block's head.
    std::vector<uint8_t> shortChild = good;
    WriteLe16(shortChild.data() + 40 + 52, 4);  // after the head, the key and the fixed value
    const std::vector<uint8_t> unterminated = {10, 0, 0, 0, 0, 0, 'V', 0, 'S', 0};
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"shorter than a head", {good.begin(), good.begin() + 5}},
        {"cut in the middle", {good.begin(), good.begin() + static_cast<long>(good.size() / 2)}},
        {"the root's length past the end", longer},
        {"not VS_VERSION_INFO", wrongKey},
        {"a child shorter than its head", shortChild},
        {"a key without its terminator", unterminated},
    };
    for (const auto& test : cases) {
        Strings strings;
        EXPECT_FALSE(ReadVersionStrings(test.bytes, strings)) << test.what;
    }
}

}  // namespace
}  // namespace winqor
