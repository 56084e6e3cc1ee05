#include "image/version_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace winqor {
namespace {

using Strings = std::vector<std::pair<std::u16string, std::u16string>>;

VersionInfo Settings(const std::vector<std::string>& settings) {
    VersionInfo info;
    std::string reason;
    for (const auto& setting : settings) {
        EXPECT_TRUE(SetVersionInfo(setting, info, reason)) << setting << ": " << reason;
    }
    return info;
}

uint32_t Le16(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8;
}

TEST(VersionInfoTest, BuildsWhatReadsBackInBothTables) {
    const VersionInfo info =
        Settings({"ProductName=Pr\xC3\xB6"
                  "duct",
                  "FileVersion=2.1.0.7", "CompanyName=Example Ltd", "Comments=a = b",
                  "ProductVersion=2.1 beta"});
    const std::vector<uint8_t> resource = BuildVersionResource(info);
    EXPECT_EQ(Le16(resource, 0), resource.size());  // the root block's length is the whole
    EXPECT_EQ(Le16(resource, 2), 52u);              // VS_FIXEDFILEINFO

    VersionInfo read;
    std::string reason;
    ASSERT_TRUE(ReadVersionResource(resource, read, reason)) << reason;
    // In the order of the keys, not of the settings.
    const Strings expected = {{u"CompanyName", u"Example Ltd"},
                              {u"FileVersion", u"2.1.0.7"},
                              {u"ProductName", u"Pr\u00F6duct"},
                              {u"ProductVersion", u"2.1 beta"},
                              {u"Comments", u"a = b"}};
    ASSERT_EQ(read.tables.size(), 2u);
    EXPECT_EQ(read.tables[0].language, u"000004b0");
    EXPECT_EQ(read.tables[1].language, u"040904b0");
    EXPECT_EQ(read.tables[0].strings, expected);
    EXPECT_EQ(read.tables[1].strings, expected);
    EXPECT_EQ(read.translations, (std::vector<uint32_t>{0x04B00000, 0x04B00409}));
    // A product version of words gives no numbers: the file version stands for it.
    EXPECT_EQ(read.fileVersion, 0x0002000100000007u);
    EXPECT_EQ(read.productVersion, 0x0002000100000007u);
}

TEST(VersionInfoTest, FixedVersionsFollowTheDottedNumbers) {
    struct Case {
        std::vector<std::string> settings;
        uint64_t file, product;
    };
    const std::vector<Case> cases = {
        {{"FileVersion=3"}, 0x0003000000000000, 0x0003000000000000},
        {{"FileVersion=1.2.3"}, 0x0001000200030000, 0x0001000200030000},
        {{"FileVersion=65535.0.0.65535"}, 0xFFFF00000000FFFF, 0xFFFF00000000FFFF},
        {{"ProductVersion=4.5", "FileVersion=1.2.3.4"}, 0x0001000200030004, 0x0004000500000000},
        {{"ProductName=x"}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings.front());
        VersionInfo read;
        std::string reason;
        ASSERT_TRUE(ReadVersionResource(BuildVersionResource(Settings(c.settings)), read, reason));
        EXPECT_EQ(read.fileVersion, c.file);
        EXPECT_EQ(read.productVersion, c.product);
    }
}

TEST(VersionInfoTest, EveryBlockStartsOnA32BitBoundary) {
    // Keys and values of odd and even lengths: each String block's key lies 6 bytes into a
    // block that starts on a 32-bit boundary.
    const auto resource = BuildVersionResource(
        Settings({"ProductName=a", "InternalName=ab", "LegalCopyright=abc", "Comments=abcd"}));
    for (const std::u16string key : {u"ProductName", u"InternalName", u"LegalCopyright",
                                     u"Comments", u"StringFileInfo", u"VarFileInfo"}) {
        std::vector<uint8_t> units;
        for (const char16_t unit : key) units.insert(units.end(), {uint8_t(unit), 0});
        auto at = resource.begin();
        int found = 0;
        while ((at = std::search(at, resource.end(), units.begin(), units.end())) !=
               resource.end()) {
            EXPECT_EQ((at - resource.begin() - 6) % 4, 0) << std::string(key.begin(), key.end());
            ++found;
            ++at;
        }
        EXPECT_EQ(found, key == u"StringFileInfo" || key == u"VarFileInfo" ? 1 : 2);
    }
}

TEST(VersionInfoTest, RefusesBadSettings) {
    const std::string tooLong = "Comments=" + std::string(1025, 'x');
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"ProductName"}, "ProductName is not KEY=VALUE"},
        {{"Product=x"},
         "unknown key Product (the keys are CompanyName, FileDescription, FileVersion, "
         "InternalName, LegalCopyright, OriginalFilename, ProductName, ProductVersion, "
         "Comments)"},
        {{"productname=x"},
         "unknown key productname (the keys are CompanyName, "
         "FileDescription, FileVersion, InternalName, LegalCopyright, "
         "OriginalFilename, ProductName, ProductVersion, Comments)"},
        {{"=x"},
         "unknown key  (the keys are CompanyName, FileDescription, FileVersion, "
         "InternalName, LegalCopyright, OriginalFilename, ProductName, ProductVersion, "
         "Comments)"},
        {{"ProductName="}, "the value of ProductName is empty"},
        {{"ProductName=a", "ProductName=b"}, "ProductName is given twice"},
        {{"CompanyName=\xC3("}, "the value of CompanyName is not UTF-8"},
        {{tooLong}, "the value of Comments is longer than 1024 characters"},
    };
    for (const auto& [settings, expected] : cases) {
        SCOPED_TRACE(settings.back().substr(0, 40));
        VersionInfo info;
        std::string reason;
        bool taken = true;
        for (const auto& setting : settings) taken = SetVersionInfo(setting, info, reason);
        EXPECT_FALSE(taken);
        EXPECT_EQ(reason, expected);
    }
}

TEST(VersionInfoTest, RefusesMalformedFileVersions) {
    for (const char* version : {"", "1.2.3.4.5", "1..2", ".1", "1.", "65536", "1.2.x", "-1", "+1",
                                " 1", "1 ", "1,2", "0x10", "000001", "1.2.3.99999"}) {
        SCOPED_TRACE(version);
        VersionInfo info;
        std::string reason;
        EXPECT_FALSE(SetVersionInfo(std::string("FileVersion=") + version, info, reason));
        EXPECT_NE(reason.find(*version == 0 ? "is empty" : "is not up to four dotted numbers"),
                  std::string::npos)
            << reason;
    }
}

TEST(VersionInfoTest, RefusesDamagedResources) {
    const auto good = BuildVersionResource(Settings({"ProductName=x", "FileVersion=1"}));
    auto withLe16 = [&](size_t at, uint32_t value) {
        auto bytes = good;
        bytes[at] = static_cast<uint8_t>(value);
        bytes[at + 1] = static_cast<uint8_t>(value >> 8);
        return bytes;
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 2)},
        {"a root longer than the bytes", withLe16(0, good.size() + 4)},
        {"a root shorter than its header", withLe16(0, 4)},
        {"a fixed info of another size", withLe16(2, 50)},
        {"a child longer than its parent", withLe16(92, 0xFFF0)},
        {"not a version resource", std::vector<uint8_t>{6, 0, 0, 0, 0, 0}},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        VersionInfo info;
        std::string reason;
        EXPECT_FALSE(ReadVersionResource(bytes, info, reason));
        EXPECT_EQ(reason, "damaged version information: its blocks do not hold together");
    }
}

}  // namespace
}  // namespace winqor
