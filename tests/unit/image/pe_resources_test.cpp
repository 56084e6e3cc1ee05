#include "image/pe_resources.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "image/pe_tree_work.h"
#include "image/resource_table.h"
#include "support/pe_image.h"
#include "support/test_support.h"

namespace winqor {
namespace {

using test::BuildPeImage;
using test::PeImage;
using test::PeImageOptions;
using test::PeTestResource;
namespace tree = test::one_resource_tree;

using test::Bytes;

const std::vector<uint8_t> kPlaceholder(std::begin(kSetupArchivePlaceholder),
                                        std::end(kSetupArchivePlaceholder));
const std::vector<uint8_t> kArchive = Bytes("SFXSetup and the rest of an archive");

PeTestResource Placeholder() {
    return {{u"SETUP_ARCHIVE"}, {{}, 131}, 1033, kPlaceholder};
}

// What a built winqor.exe carries, in an order a resource compiler would not choose.
std::vector<PeTestResource> StubResources() {
    return {{{u"ZED"}, {u"ITEM"}, 1033, Bytes("named type, named entry")},
            Placeholder(),
            {{{}, 24}, {{}, 1}, 1033, Bytes("<assembly/>")},
            {{{}, 3}, {{}, 1}, 1033, Bytes("icon bits")},
            {{{}, 14}, {{}, 128}, 1033, Bytes("icon group")},
            {{{}, 5}, {{}, 100}, 1033, Bytes("dialog template")},
            {{{}, 6}, {{}, 1}, 1033, Bytes("string table")}};
}

std::vector<uint8_t> WithArchive(const std::vector<uint8_t>& program,
                                 const std::vector<uint8_t>& archive) {
    const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, kLanguageNeutral,
                                 archive};
    std::vector<uint8_t> out;
    std::string reason;
    EXPECT_TRUE(AddPeResources(program, {&addition, 1}, out, reason)) << reason;
    return out;
}

std::vector<PeResource> ReadAll(const std::vector<uint8_t>& file) {
    std::vector<PeResource> resources;
    std::string reason;
    EXPECT_EQ(ReadPeResources(file, resources, reason), PeStatus::kValid) << reason;
    return resources;
}

std::vector<uint8_t> BytesOf(const std::vector<uint8_t>& file, const PeResource& resource) {
    return {file.begin() + resource.offset, file.begin() + resource.offset + resource.size};
}

std::string Describe(const PeKey& key) {
    const std::u16string text = PeKeyText(key);
    return key.named ? std::string(text.begin(), text.end()) : std::to_string(key.id);
}

std::string Describe(const PeResource& resource) {
    return Describe(resource.type) + "/" + Describe(resource.name) + "/" +
           Describe(resource.language);
}

TEST(PeResourcesTest, AddingTheArchiveKeepsEveryResourceInWindowsOrder) {
    const auto stub = BuildPeImage(StubResources()).bytes;
    const auto program = WithArchive(stub, kArchive);
    const auto resources = ReadAll(program);

    const std::vector<std::string> order = {"SETUP_ARCHIVE/131/0", "SETUP_ARCHIVE/131/1033",
                                            "ZED/ITEM/1033",       "3/1/1033",
                                            "5/100/1033",          "6/1/1033",
                                            "14/128/1033",         "24/1/1033"};
    ASSERT_EQ(resources.size(), order.size());
    const auto before = ReadAll(stub);
    for (size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(order[i]);
        EXPECT_EQ(Describe(resources[i]), order[i]);
        if (i == 0) continue;
        const auto same = std::find_if(before.begin(), before.end(), [&](const PeResource& r) {
            return Describe(r) == order[i];
        });
        ASSERT_NE(same, before.end());
        EXPECT_EQ(BytesOf(program, resources[i]), BytesOf(stub, *same));
    }
    const PeResource* found = FindPeResource(resources, u"setup_archive", kSetupArchiveId);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(BytesOf(program, *found), kArchive);
    EXPECT_EQ(found->offset % 8, 0u);
}

TEST(PeResourcesTest, TheNewSectionFollowsTheOthersAndTheChecksumHolds) {
    const auto built = BuildPeImage(StubResources());
    const auto program = WithArchive(built.bytes, kArchive);
    EXPECT_EQ(test::ReadLe16At(program, built.sectionCountOffset), 3u);
    EXPECT_EQ(program.size() % 0x200, 0u);
    const uint32_t checksum = test::ReadLe32At(program, built.checksumOffset);
    EXPECT_EQ(checksum, PeChecksum(program, built.checksumOffset));
    // The original stays as it was up to its own end.
    EXPECT_TRUE(
        std::equal(built.bytes.begin() + 0x400, built.bytes.end(), program.begin() + 0x400));
}

TEST(PeResourcesTest, ASecondRunReplacesItsSectionAndTheArchive) {
    const auto built = BuildPeImage(StubResources());
    const auto first = WithArchive(built.bytes, kArchive);
    const auto newer = Bytes("SFXSetup, a newer archive of another length");
    const auto second = WithArchive(first, newer);
    EXPECT_EQ(test::ReadLe16At(second, built.sectionCountOffset), 3u);
    const auto resources = ReadAll(second);
    EXPECT_EQ(resources.size(), ReadAll(first).size());
    const PeResource* found = FindPeResource(resources, kSetupArchiveTypeUtf16, kSetupArchiveId);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(BytesOf(second, *found), newer);
    EXPECT_EQ(WithArchive(second, kArchive), first);
}

TEST(PeResourcesTest, AnUnstrippedProgramKeepsItsSymbolTableBehindTheNewSection) {
    PeImageOptions options;
    options.symbols = 3;
    const auto built = BuildPeImage({Placeholder()}, options);
    const uint32_t oldSymbols = test::ReadLe32At(built.bytes, built.symbolTableOffset);
    const std::vector<uint8_t> symbols(built.bytes.begin() + oldSymbols, built.bytes.end());
    for (const auto& program : {WithArchive(built.bytes, kArchive),
                                WithArchive(WithArchive(built.bytes, kArchive), kArchive)}) {
        const uint32_t at = test::ReadLe32At(program, built.symbolTableOffset);
        ASSERT_EQ(program.size() - at, symbols.size());
        EXPECT_TRUE(std::equal(symbols.begin(), symbols.end(), program.begin() + at));
    }
}

TEST(PeResourcesTest, LanguagesAreSearchedNeutralFirstThenEnglishThenAny) {
    struct Case {
        std::vector<uint32_t> languages;
        int expected;  // -1: none found
    };
    const Case cases[] = {{{1033, 7, 0}, 0}, {{7, 1033}, 1033}, {{7, 1031}, 7}, {{}, -1}};
    std::vector<uint8_t> type;  // little-endian units, as a file holds them
    for (const char16_t c : kSetupArchiveTypeUtf16) type.insert(type.end(), {uint8_t(c), 0});
    for (const auto& c : cases) {
        std::vector<PeResource> resources;
        for (uint32_t language : c.languages) {
            PeResource resource;
            resource.type = {true, 0, type};
            resource.name.id = kSetupArchiveId;
            resource.language.id = language;
            resources.push_back(resource);
        }
        const PeResource* found =
            FindPeResource(resources, kSetupArchiveTypeUtf16, kSetupArchiveId);
        EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found->language.id), c.expected);
    }
}

TEST(PeResourcesTest, ChecksumFoldsCarriesAndSkipsItsOwnField) {
    struct Case {
        std::vector<uint8_t> file;
        uint64_t checksumOffset;
        uint32_t expected;
    };
    const Case cases[] = {
        {{1, 0, 2, 0}, 100, 3 + 4},
        {{0xFF, 0xFF, 2, 0}, 100, 2 + 4},  // 0xFFFF + 2 carries into 0x0002
        {{1, 0, 9, 9, 9, 9, 2, 0}, 2, 3 + 8},
        {{1, 0, 5}, 100, 6 + 3},  // an odd length ends with a zero byte
    };
    for (const auto& c : cases) EXPECT_EQ(PeChecksum(c.file, c.checksumOffset), c.expected);
}

TEST(PeResourcesTest, OnlyMzLeadingToAPeSignatureLooksLikeAProgram) {
    const auto program = BuildPeImage({Placeholder()}).bytes;
    std::vector<uint8_t> wrongSignature = program;
    wrongSignature[0x40] = 'X';
    std::vector<uint8_t> farSignature(program.begin(), program.begin() + 64);
    test::WriteLe32At(farSignature, 0x3C, 0x10000);
    EXPECT_TRUE(LooksLikePe(program));
    EXPECT_TRUE(LooksLikePe(farSignature));  // only the whole file can tell
    EXPECT_FALSE(LooksLikePe(wrongSignature));
    EXPECT_FALSE(
        LooksLikePe(Bytes("\x7f"
                          "ELF and more bytes than a DOS header has, surely so")));
}

// A refusal: how the stub is made or damaged, the status of reading it and the message.
struct Refusal {
    const char* what;
    PeImageOptions options;
    uint64_t treeField;  // a field of the one-resource tree to overwrite, 0 for none
    uint32_t value;
    size_t cutTo;  // the file's length when not 0
    PeStatus read;
    const char* message;
};

PeImageOptions Options(void (*change)(PeImageOptions&)) {
    PeImageOptions options;
    change(options);
    return options;
}

const Refusal kRefusals[] = {
    {"PE32", Options([](PeImageOptions& o) { o.magic = 0x10B; }), 0, 0, 0, PeStatus::kUnsupported,
     "a 32-bit (PE32) Windows program"},
    {"signed", Options([](PeImageOptions& o) { o.isSigned = true; }), 0, 0, 0, PeStatus::kValid,
     "the program is signed"},
    {"no header room", Options([](PeImageOptions& o) { o.sizeOfHeaders = 0x1A0; }), 0, 0, 0,
     PeStatus::kValid, "no room for another section header"},
    {"other data after the sections", Options([](PeImageOptions& o) {
         o.trailing = {1, 2, 3};
     }),
     0, 0, 0, PeStatus::kValid, "3 bytes of other data follow"},
    {"directory outside the tree",
     {},
     tree::kRootChild,
     0x80007FF0,
     0,
     PeStatus::kDamaged,
     "a directory lies outside the tree"},
    {"loop back to the root",
     {},
     tree::kTypeChild,
     0x80000000,
     0,
     PeStatus::kDamaged,
     "a directory is reached twice"},
    {"data where a directory belongs",
     {},
     tree::kRootChild,
     24,
     0,
     PeStatus::kDamaged,
     "data stands where a directory belongs"},
    {"entries past the end",
     {},
     tree::kRootCounts,
     0xFFFFFFFF,
     0,
     PeStatus::kDamaged,
     "more entries than the tree has room for"},
    {"name past the end",
     {},
     tree::kTypeNameLength,
     0xFFFF,
     0,
     PeStatus::kDamaged,
     "a name runs past the end of the tree"},
    {"data longer than its section",
     {},
     tree::kDataEntrySize,
     0xFFFFFFF0,
     0,
     PeStatus::kDamaged,
     "a resource's bytes lie outside the program's sections"},
    {"data outside every section",
     {},
     tree::kDataEntryRva,
     0x900000,
     0,
     PeStatus::kDamaged,
     "a resource's bytes lie outside the program's sections"},
    {"file cut inside the tree",
     {},
     0,
     0,
     0x420,
     PeStatus::kDamaged,
     "a section's data runs past the end of the file"},
    {"file cut inside the headers", {}, 0, 0, 0x160, PeStatus::kDamaged, "its headers end early"},
};

TEST(PeResourcesTest, ProgramsThatCannotTakeTheArchiveAreRefused) {
    for (const auto& refusal : kRefusals) {
        SCOPED_TRACE(refusal.what);
        PeImage image = BuildPeImage({Placeholder()}, refusal.options);
        if (refusal.treeField != 0) {
            test::WriteLe32At(image.bytes, image.treeOffset + refusal.treeField, refusal.value);
        }
        if (refusal.cutTo != 0) image.bytes.resize(refusal.cutTo);
        std::vector<PeResource> resources;
        std::string reason;
        EXPECT_EQ(ReadPeResources(image.bytes, resources, reason), refusal.read) << reason;
        EXPECT_FALSE(CanAddPeResources(image.bytes, reason));
        EXPECT_NE(reason.find(refusal.message), std::string::npos) << reason;
        std::vector<uint8_t> out;
        const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, 0, kArchive};
        EXPECT_FALSE(AddPeResources(image.bytes, {&addition, 1}, out, reason));
    }
}

TEST(PeResourcesTest, AFileThatIsNoProgramIsNotRead) {
    std::vector<PeResource> resources;
    std::string reason;
    EXPECT_EQ(ReadPeResources(Bytes("\x7f"
                                    "ELF"),
                              resources, reason),
              PeStatus::kNotPe);
    EXPECT_FALSE(CanAddPeResources(Bytes("MZ"), reason));
    EXPECT_NE(reason.find("not a Windows program"), std::string::npos) << reason;
}

// A stub patched at absolute file offsets: the headers, or the tree at image.treeOffset.
struct Patch {
    bool inTree;
    uint64_t offset;
    uint32_t value;
    int bytes;
};

void Apply(PeImage& image, const std::vector<Patch>& patches) {
    for (const auto& patch : patches) {
        const uint64_t at = patch.offset + (patch.inTree ? image.treeOffset : 0);
        for (int i = 0; i < patch.bytes; ++i) image.bytes[at + i] = uint8_t(patch.value >> 8 * i);
    }
}

// Header fields of the images BuildPeImage makes.
constexpr uint64_t kMachine = 0x44, kCharacteristics = 0x56;
constexpr uint64_t kSectionAlignment = 0x78, kFileAlignment = 0x7C;
constexpr uint64_t kCodeRawSize = 0x158, kCodeRawOffset = 0x15C;

struct StubRule {
    const char* what;
    std::vector<Patch> patches;
    PeStatus read;
    const char* message;
};

const StubRule kStubRules[] = {
    {"ARM64",
     {{false, kMachine, 0xAA64, 2}},
     PeStatus::kValid,
     "not an x86-64 program (its machine type is 0xAA64"},
    {"DLL", {{false, kCharacteristics, 0x2022, 2}}, PeStatus::kValid, "a DLL"},
    {"object file",
     {{false, kCharacteristics, 0x0020, 2}},
     PeStatus::kValid,
     "not marked as an executable image"},
    {"FileAlignment 2^28",
     {{false, kSectionAlignment, 1u << 28, 4}, {false, kFileAlignment, 1u << 28, 4}},
     PeStatus::kValid,
     "FileAlignment 268435456 is not a power of two from 512 to 65536"},
    {"FileAlignment 256",
     {{false, kFileAlignment, 256, 4}},
     PeStatus::kValid,
     "FileAlignment 256 is not"},
    {"SectionAlignment below FileAlignment",
     {{false, kSectionAlignment, 256, 4}},
     PeStatus::kValid,
     "SectionAlignment 256 is smaller than its FileAlignment 512"},
    {"FileAlignment no power of two",
     {{false, kFileAlignment, 0x300, 4}},
     PeStatus::kDamaged,
     "no power of two"},
    // A section without data may claim any offset; an empty resource in it is still outside.
    {"empty resource past the end of the file",
     {{false, kCodeRawSize, 0, 4},
      {false, kCodeRawOffset, 0x7FFFFF00, 4},
      {true, tree::kDataEntryRva, 0x1000, 4},
      {true, tree::kDataEntrySize, 0, 4}},
     PeStatus::kDamaged,
     "a resource's bytes lie outside the program's sections"},
};

TEST(PeResourcesTest, StubsThatWindowsWouldNotLoadAreRefusedByTheRuleTheyBreak) {
    for (const auto& rule : kStubRules) {
        SCOPED_TRACE(rule.what);
        PeImage image = BuildPeImage({Placeholder()});
        Apply(image, rule.patches);
        std::vector<PeResource> resources;
        std::string reason;
        EXPECT_EQ(ReadPeResources(image.bytes, resources, reason), rule.read) << reason;
        EXPECT_FALSE(CanAddPeResources(image.bytes, reason));
        EXPECT_NE(reason.find(rule.message), std::string::npos) << reason;
    }
}

// Windows finds one entry per key in a directory: a directory that lists a key twice hides a
// resource, and the rewrite, which sorts and merges entries, could show it instead. Such a
// program is listed but not rewritten; keys that differ, or repeat in other directories, are.
struct RepeatedKey {
    const char* what;
    std::vector<PeTestResource> resources;
    std::vector<Patch> patches;
    bool refused;
};

// Two languages of one id type and id name: the second language's id in the tree.
constexpr uint64_t kSecondLanguageId = 72;

const RepeatedKey kRepeatedKeys[] = {
    {"one language twice",
     {{{{}, 3}, {{}, 1}, 1033, Bytes("first")}, {{{}, 3}, {{}, 1}, 1034, Bytes("second")}},
     {{true, kSecondLanguageId, 1033, 4}},
     true},
    {"one name twice, spelt in two cases",
     {{{u"ZED"}, {u"ITEM"}, 1033, Bytes("first")}, {{u"ZED"}, {u"item"}, 1033, Bytes("second")}},
     {},
     true},
    {"one type twice, spelt in two cases",
     {{{u"Zed"}, {{}, 1}, 1033, Bytes("first")}, {{u"ZED"}, {{}, 2}, 1033, Bytes("second")}},
     {},
     true},
    {"two languages",
     {{{{}, 3}, {{}, 1}, 1033, Bytes("first")}, {{{}, 3}, {{}, 1}, 1034, Bytes("second")}},
     {},
     false},
    {"one name in two types",
     {{{u"ZED"}, {u"ITEM"}, 1033, Bytes("first")}, {{u"YAK"}, {u"item"}, 1033, Bytes("second")}},
     {},
     false},
    {"the archive's type spelt in another case",
     {{{u"SeTUP_ARCHIVE"}, {{}, 131}, 1033, Bytes("first")}},
     {},
     false},
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST(PeResourcesTest, ADirectoryListingAKeyTwiceIsListedButNotRewritten) {
    for (const auto& c : kRepeatedKeys) {
        SCOPED_TRACE(c.what);
        PeImage image = BuildPeImage(c.resources);
        Apply(image, c.patches);
        const auto before = ReadAll(image.bytes);
        ASSERT_EQ(before.size(), c.resources.size());
        std::string reason;
        EXPECT_EQ(CanAddPeResources(image.bytes, reason), !c.refused) << reason;
        std::vector<uint8_t> out;
        const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, 0, kArchive};
        ASSERT_EQ(AddPeResources(image.bytes, {&addition, 1}, out, reason), !c.refused);
        if (c.refused) {
            EXPECT_NE(reason.find("lists one type, name or language twice"), std::string::npos)
                << reason;
            continue;
        }
        const auto after = ReadAll(out);
        ASSERT_EQ(after.size(), before.size() + 1);
        for (const auto& old : before) {
            const auto same = std::find_if(after.begin(), after.end(), [&](const PeResource& r) {
                return Upper(Describe(r)) == Upper(Describe(old));
            });
            ASSERT_NE(same, after.end()) << Describe(old);
            EXPECT_EQ(BytesOf(out, *same), BytesOf(image.bytes, old)) << Describe(old);
        }
    }
}

// Many entries naming one long string, or one resource's bytes: the reader's memory stays with
// the file (names are views of it), and the writer refuses before it would write the shared
// bytes out once for each entry.
TEST(PeResourcesTest, EntriesThatShareNamesAndBytesCostNoCopies) {
    const std::u16string longName(4000, u'N');
    const std::vector<uint8_t> big(64 * 1024, 0x5A);
    std::vector<PeTestResource> resources = {{{longName}, {{}, 1}, 0, big}};
    for (uint32_t id = 2; id < 2000; ++id) resources.push_back({{longName}, {{}, id}, 0, {1}});
    PeImage image = BuildPeImage(resources);
    const auto read = ReadAll(image.bytes);
    ASSERT_EQ(read.size(), resources.size());
    const uint8_t* begin = image.bytes.data();
    for (const auto& resource : read) {
        ASSERT_EQ(resource.type.text.size(), 2 * longName.size());
        EXPECT_TRUE(resource.type.text.data() >= begin &&
                    resource.type.text.data() < begin + image.bytes.size());
    }
    // Every small resource's data entry (its RVA, then its size 1) is pointed at the big one.
    const uint32_t bigRva = uint32_t(read[0].offset - image.treeOffset + 0x2000);
    for (size_t i = 1; i < read.size(); ++i) {
        const uint32_t rva = uint32_t(read[i].offset - image.treeOffset + 0x2000);
        for (uint64_t at = image.treeOffset; at + 8 <= image.bytes.size(); at += 4) {
            if (test::ReadLe32At(image.bytes, at) != rva ||
                test::ReadLe32At(image.bytes, at + 4) != 1)
                continue;
            test::WriteLe32At(image.bytes, at, bigRva);
            test::WriteLe32At(image.bytes, at + 4, uint32_t(big.size()));
            break;
        }
    }
    ASSERT_EQ(ReadAll(image.bytes).back().size, big.size());
    std::vector<uint8_t> out;
    std::string reason;
    const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, 0, kArchive};
    EXPECT_FALSE(AddPeResources(image.bytes, {&addition, 1}, out, reason));
    EXPECT_NE(reason.find("share their bytes or names"), std::string::npos) << reason;
    EXPECT_TRUE(out.empty());
}

// Trees made to cost far more than their size: a directory whose entries all name one long
// string, two long type names that differ at their end over many resources each, and
// directories whose entries overlap so that each entry is read more than once. The work of
// reading, checking and rewriting each is held to the tree's size (entries read at most once
// per 8 bytes of the tree in each read, names compared a small multiple of its bytes), and each
// still ends in the right answer.
struct Amplified {
    const char* what;
    PeImage (*build)();
    PeStatus read;
    bool rewritten;
    const char* message;  // of the read's or the rewrite's refusal
};

// The tree's bytes, as the resource data directory gives them.
uint64_t TreeBytes(const PeImage& image) {
    return test::ReadLe32At(image.bytes, 0x58 + 112 + 2 * 8 + 4);
}

PeImage OneNameForEveryType() {
    std::vector<PeTestResource> resources = {{{std::u16string(4000, u'N')}, {{}, 1}, 0, {1}}};
    for (int i = 1; i < 2000; ++i)
        resources.push_back(
            {{u"T" + std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x')},
             {{}, 1},
             0,
             {1}});
    PeImage image = BuildPeImage(resources);
    const uint64_t root = image.treeOffset + 16;
    const uint32_t first = test::ReadLe32At(image.bytes, root);
    for (uint64_t i = 1; i < resources.size(); ++i)
        test::WriteLe32At(image.bytes, root + 8 * i, first);
    return image;
}

PeImage TwoLongTypesOfManyIds() {
    const std::u16string prefix(8000, u'A');
    std::vector<PeTestResource> resources;
    for (uint32_t id = 1; id <= 1500; ++id) {
        resources.push_back({{prefix + u"C"}, {{}, id}, 0, {1}});
        resources.push_back({{prefix + u"B"}, {{}, id}, 0, {2}});
    }
    return BuildPeImage(resources);
}

// One type whose directory lists kCount ids, each leading to its own language directory; the
// language directories start 8 bytes apart in a run of identical entries, so that each lists
// the entries of the next ones too (its header's counts are the child field of the entry before
// it: no named entry, kLanguages ids).
PeImage OverlappingDirectories() {
    constexpr uint32_t kCount = 16384;
    constexpr uint32_t kLanguages = 5;  // the count each language directory reads
    constexpr uint32_t kDataEntry = kLanguages << 16;
    PeImage image = BuildPeImage({{{{}, 3}, {{}, 1}, 0, std::vector<uint8_t>(kDataEntry + 64)}});
    std::vector<uint8_t> tree(kDataEntry + 16, 0);
    auto put = [&](uint64_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) tree[at + i] = uint8_t(value >> (8 * i));
    };
    put(12, 1 << 16);  // the root: one id
    put(16, 3);
    put(20, 24 | 0x80000000u);
    const uint64_t run = 24 + 16 + 8 * uint64_t{kCount};
    put(24 + 12, kCount << 16);
    for (uint32_t i = 0; i < kCount; ++i) {
        put(24 + 16 + 8 * i, i);
        put(24 + 20 + 8 * i, uint32_t(run + 8 * i) | 0x80000000u);
    }
    // Each entry of the run an id of its own, so that no directory lists one twice.
    for (uint64_t at = run; at + 8 <= kDataEntry; at += 8) {
        put(at, uint32_t(at / 8));
        put(at + 4, kDataEntry);
    }
    put(kDataEntry, 0x2000);
    put(kDataEntry + 4, 1);
    std::copy(tree.begin(), tree.end(), image.bytes.begin() + image.treeOffset);
    return image;
}

const Amplified kAmplified[] = {
    {"2000 types naming one 4000-unit name", OneNameForEveryType, PeStatus::kValid, false,
     "names take more bytes than the tree"},
    {"two 8001-unit types of 1500 ids each", TwoLongTypesOfManyIds, PeStatus::kValid, true, ""},
    {"16384 language directories overlapping", OverlappingDirectories, PeStatus::kDamaged, false,
     "more entries than the tree has room for"},
};

TEST(PeResourcesTest, AmplifiedTreesCostWorkInProportionToTheirSize) {
    for (const auto& c : kAmplified) {
        SCOPED_TRACE(c.what);
        const PeImage image = c.build();
        const uint64_t treeBytes = TreeBytes(image);
        auto expectWithinBounds = [&](const char* call, uint64_t reads) {
            const PeTreeWork work = PeTreeWorkOnThisThread();
            EXPECT_LE(work.entriesVisited, reads * treeBytes / 8) << call;
            EXPECT_LE(work.nameUnitsCompared, 8 * treeBytes) << call;
        };
        std::vector<PeResource> resources;
        std::string reason;
        PeTreeWorkOnThisThread() = {};
        EXPECT_EQ(ReadPeResources(image.bytes, resources, reason), c.read) << reason;
        expectWithinBounds("ReadPeResources", 1);
        if (c.read != PeStatus::kValid) {
            EXPECT_NE(reason.find(c.message), std::string::npos) << reason;
        }
        PeTreeWorkOnThisThread() = {};
        EXPECT_EQ(CanAddPeResources(image.bytes, reason), c.rewritten) << reason;
        expectWithinBounds("CanAddPeResources", 1);
        if (!c.rewritten) {
            EXPECT_NE(reason.find(c.message), std::string::npos) << reason;
        }
        std::vector<uint8_t> out;
        const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, 0, kArchive};
        PeTreeWorkOnThisThread() = {};
        EXPECT_EQ(AddPeResources(image.bytes, {&addition, 1}, out, reason), c.rewritten) << reason;
        expectWithinBounds("AddPeResources", 2);
        if (c.rewritten) {
            EXPECT_EQ(ReadAll(out).size(), resources.size() + 1);
        }
    }
}

}  // namespace
}  // namespace winqor
