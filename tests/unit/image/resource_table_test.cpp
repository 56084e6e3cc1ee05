#include "image/resource_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "support/test_support.h"

namespace winqor {
namespace {

using test::Bytes;

const std::vector<uint8_t> kProgram = Bytes(
    "\x7f"
    "ELF pretend program image");
const std::vector<uint8_t> kArchive = Bytes("SFXSetup and the rest of an archive");
const std::vector<uint8_t> kIcon = Bytes("icon");

std::vector<uint8_t> WithResources(const std::vector<uint8_t>& file,
                                   const std::vector<NewResource>& additions) {
    std::vector<uint8_t> out;
    std::string reason;
    EXPECT_TRUE(AppendResources(file, additions, out, reason)) << reason;
    return out;
}

std::vector<uint8_t> EntryBytes(const std::vector<uint8_t>& file, const ResourceEntry& entry) {
    return {file.begin() + entry.offset, file.begin() + entry.offset + entry.size};
}

// A program with the placeholder and an archive, the way a self-extracting program is made.
std::vector<uint8_t> SampleImage() {
    auto built = WithResources(kProgram, {{kSetupArchiveType, kSetupArchiveId, kLanguageEnglishUs,
                                           kSetupArchivePlaceholder}});
    return WithResources(built, {{kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, kArchive},
                                 {"ICON", 128, kLanguageEnglishUs, kIcon}});
}

TEST(ResourceTableTest, RoundTripKeepsTheProgramAndEveryEntry) {
    const auto file = SampleImage();
    ResourceTable table;
    ASSERT_EQ(ParseResourceTable(file, table), TableStatus::kValid);
    EXPECT_EQ(table.programBytes, kProgram.size());
    EXPECT_TRUE(std::equal(kProgram.begin(), kProgram.end(), file.begin()));
    ASSERT_EQ(table.entries.size(), 3u);

    const std::vector<uint8_t> placeholder(std::begin(kSetupArchivePlaceholder),
                                           std::end(kSetupArchivePlaceholder));
    struct Expected {
        std::string type;
        uint32_t id, language;
        std::vector<uint8_t> bytes;
    };
    const Expected expected[] = {{"SETUP_ARCHIVE", 131, 1033, placeholder},
                                 {"SETUP_ARCHIVE", 131, 0, kArchive},
                                 {"ICON", 128, 1033, kIcon}};
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table.entries[i].type, expected[i].type);
        EXPECT_EQ(table.entries[i].id, expected[i].id);
        EXPECT_EQ(table.entries[i].language, expected[i].language);
        EXPECT_EQ(EntryBytes(file, table.entries[i]), expected[i].bytes);
    }
}

TEST(ResourceTableTest, AnAdditionReplacesTheEntryOfTheSameKeyOnly) {
    const auto newer = Bytes("a newer archive");
    const auto file = WithResources(
        SampleImage(), {{kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, newer}});
    ResourceTable table;
    ASSERT_EQ(ParseResourceTable(file, table), TableStatus::kValid);
    EXPECT_EQ(table.programBytes, kProgram.size());
    ASSERT_EQ(table.entries.size(), 3u);
    const auto* archive = FindEntry(table, kSetupArchiveType, kSetupArchiveId);
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(EntryBytes(file, *archive), newer);
    EXPECT_EQ(EntryBytes(file, *FindEntry(table, "ICON", 128)), kIcon);
}

TEST(ResourceTableTest, AFileWithoutTrailerHasNoTableAndIsAllProgram) {
    for (const auto& file : {std::vector<uint8_t>{}, Bytes("short"), kProgram}) {
        ResourceTable table;
        EXPECT_EQ(ParseResourceTable(file, table), TableStatus::kAbsent);
        EXPECT_EQ(table.programBytes, file.size());
        EXPECT_TRUE(table.entries.empty());
    }
}

TEST(ResourceTableTest, LanguagesAreSearchedNeutralThenEnglishThenAnyOther) {
    struct Case {
        std::vector<uint32_t> languages;  // in table order
        int expected;                     // language found, -1 for none
    };
    const Case cases[] = {
        {{1033, 0}, 0}, {{0, 1033}, 0}, {{7, 1033}, 1033}, {{1033, 7, 0}, 0},
        {{7, 9}, 7},    {{9, 7}, 9},    {{1033}, 1033},    {{}, -1},
    };
    for (const auto& c : cases) {
        std::vector<NewResource> additions;
        std::vector<std::vector<uint8_t>> contents;
        contents.reserve(c.languages.size());
        for (uint32_t language : c.languages) {
            contents.push_back(Bytes("language " + std::to_string(language)));
            additions.push_back({"SETUP_ARCHIVE", 131, language, contents.back()});
        }
        // Entries of another id or type never answer.
        additions.push_back({"SETUP_ARCHIVE", 132, 0, kIcon});
        additions.push_back({"SETUP_ARCHIVe", 131, 0, kIcon});
        ResourceTable table;
        ASSERT_EQ(ParseResourceTable(WithResources(kProgram, additions), table),
                  TableStatus::kValid);
        const auto* found = FindEntry(table, "SETUP_ARCHIVE", 131);
        EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found->language), c.expected)
            << "first language " << (c.languages.empty() ? -1 : int(c.languages[0]));
    }
}

// Offsets of the fields of the sample image's table, for damaging it.
struct SampleLayout {
    std::vector<uint8_t> file = SampleImage();
    size_t trailer = file.size() - kResourceTrailerBytes;
    size_t table = ReadLe64(file.data() + trailer + 8);
    size_t firstRecord = table;
};

TEST(ResourceTableTest, DamagedTablesAreRefusedWithoutReadingOutOfBounds) {
    constexpr uint64_t kHuge = std::numeric_limits<uint64_t>::max();
    struct Case {
        const char* what;
        size_t (*field)(const SampleLayout&);  // where to write
        int width;                             // 4 or 8 bytes
        uint64_t (*value)(const SampleLayout&);
    };
    auto trailer = [](const SampleLayout& s) { return s.trailer; };
    auto count = [](const SampleLayout& s) { return s.trailer + 4; };
    auto tableOffset = [](const SampleLayout& s) { return s.trailer + 8; };
    auto recordBytes = [](const SampleLayout& s) { return s.firstRecord; };
    auto nameBytes = [](const SampleLayout& s) { return s.firstRecord + 12; };
    auto dataOffset = [](const SampleLayout& s) { return s.firstRecord + 16; };
    auto dataSize = [](const SampleLayout& s) { return s.firstRecord + 24; };
    const Case cases[] = {
        {"version 0", trailer, 4, [](const SampleLayout&) -> uint64_t { return 0; }},
        {"table offset past the end", tableOffset, 8,
         [](const SampleLayout& s) -> uint64_t { return s.file.size() + 1; }},
        {"table offset inside the trailer", tableOffset, 8,
         [](const SampleLayout& s) -> uint64_t { return s.trailer + 1; }},
        {"table offset huge", tableOffset, 8, [](const SampleLayout&) { return kHuge; }},
        {"count that overflows", count, 4,
         [](const SampleLayout&) -> uint64_t { return 0xFFFFFFFF; }},
        {"count one too many", count, 4, [](const SampleLayout&) -> uint64_t { return 4; }},
        {"count one too few (bytes left over)", count, 4,
         [](const SampleLayout&) -> uint64_t { return 2; }},
        {"record shorter than its fixed part", recordBytes, 4,
         [](const SampleLayout&) -> uint64_t { return 31; }},
        {"record past the table", recordBytes, 4,
         [](const SampleLayout& s) -> uint64_t { return s.trailer - s.firstRecord + 1; }},
        {"record length huge", recordBytes, 4,
         [](const SampleLayout&) -> uint64_t { return 0xFFFFFFFF; }},
        {"empty type name", nameBytes, 4, [](const SampleLayout&) -> uint64_t { return 0; }},
        {"type name past its record", nameBytes, 4,
         [](const SampleLayout&) -> uint64_t { return 14; }},
        {"type name length huge", nameBytes, 4,
         [](const SampleLayout&) -> uint64_t { return 0xFFFFFFFF; }},
        {"data that starts in the table", dataOffset, 8,
         [](const SampleLayout& s) -> uint64_t { return s.table + 1; }},
        {"data that runs into the table", dataSize, 8,
         [](const SampleLayout& s) -> uint64_t { return s.table; }},
        {"data size that overflows", dataSize, 8, [](const SampleLayout&) { return kHuge; }},
        {"data offset huge", dataOffset, 8, [](const SampleLayout&) { return kHuge; }},
    };
    for (const auto& c : cases) {
        SampleLayout layout;
        std::vector<uint8_t> file = layout.file;
        const size_t at = c.field(layout);
        if (c.width == 4) {
            WriteLe32(file.data() + at, static_cast<uint32_t>(c.value(layout)));
        } else {
            WriteLe64(file.data() + at, c.value(layout));
        }
        ResourceTable table;
        EXPECT_EQ(ParseResourceTable(file, table), TableStatus::kCorrupt) << c.what;
        EXPECT_TRUE(table.entries.empty()) << c.what;
        std::vector<uint8_t> out;
        std::string reason;
        EXPECT_FALSE(AppendResources(file, {}, out, reason)) << c.what;
    }
}

TEST(ResourceTableTest, EveryDamagedByteOrShorterFileIsParsedSafely) {
    // Run under AddressSanitizer, a read past the exactly sized copy fails the test.
    const auto sample = SampleImage();
    const size_t tableStart = ReadLe64(sample.data() + sample.size() - 16);
    for (size_t at = tableStart; at < sample.size(); ++at) {
        for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
            std::vector<uint8_t> file = sample;
            file[at] = value;
            ResourceTable table;
            ParseResourceTable(file, table);
            for (const auto& entry : table.entries) {
                ASSERT_LE(entry.offset + entry.size, file.size() - kResourceTrailerBytes)
                    << "byte " << at;
            }
        }
    }
    for (size_t cut = 0; cut < sample.size(); ++cut) {
        std::vector<uint8_t> file(sample.begin(), sample.begin() + cut);
        ResourceTable table;
        EXPECT_NE(ParseResourceTable(file, table), TableStatus::kValid) << "cut at " << cut;
    }
}

TEST(ResourceTableTest, LaterVersionsWithLongerRecordsStayReadable) {
    // Version 2 grows the one record by 4 bytes that this reader does not know.
    std::vector<uint8_t> file = kProgram;
    file.insert(file.end(), kArchive.begin(), kArchive.end());
    const size_t tableOffset = file.size();
    const std::string type = "SETUP_ARCHIVE";
    std::vector<uint8_t> record(32 + type.size() + 4, 0xEE);
    WriteLe32(record.data(), static_cast<uint32_t>(record.size()));
    WriteLe32(record.data() + 4, 131);
    WriteLe32(record.data() + 8, 0);
    WriteLe32(record.data() + 12, static_cast<uint32_t>(type.size()));
    WriteLe64(record.data() + 16, kProgram.size());
    WriteLe64(record.data() + 24, kArchive.size());
    std::copy(type.begin(), type.end(), record.begin() + 32);
    file.insert(file.end(), record.begin(), record.end());
    uint8_t trailer[kResourceTrailerBytes];
    WriteLe32(trailer, 2);
    WriteLe32(trailer + 4, 1);
    WriteLe64(trailer + 8, tableOffset);
    std::copy(std::begin(kResourceTableMagic), std::end(kResourceTableMagic), trailer + 16);
    file.insert(file.end(), std::begin(trailer), std::end(trailer));

    ResourceTable table;
    ASSERT_EQ(ParseResourceTable(file, table), TableStatus::kValid);
    ASSERT_EQ(table.entries.size(), 1u);
    EXPECT_EQ(table.entries[0].type, type);
    EXPECT_EQ(EntryBytes(file, table.entries[0]), kArchive);
}

TEST(ResourceTableTest, TypeNamesMustHaveOneTo255Bytes) {
    const std::string tooLong(256, 'A');
    for (std::string_view type : {std::string_view(), std::string_view(tooLong)}) {
        std::vector<uint8_t> out;
        std::string reason;
        const NewResource addition{type, 1, 0, kIcon};
        EXPECT_FALSE(AppendResources(kProgram, {&addition, 1}, out, reason));
        EXPECT_FALSE(reason.empty());
    }
}

}  // namespace
}  // namespace winqor
