#include "engine/embedded_archive.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/archive_extractor.h"
#include "engine/decoded_archive.h"
#include "format/archive_header.h"
#include "image/resource_table.h"
#include "support/pe_image.h"
#include "support/test_support.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kPlaceholder(std::begin(kSetupArchivePlaceholder), std::end(kSetupArchivePlaceholder));

Bytes SmallArchive() {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"readme.txt", kAttributeArchive, test::Bytes("carried"));
    Bytes archive;
    std::string error;
    EXPECT_TRUE(WriteArchive(builder.bytes(), {}, archive, error)) << error;
    return archive;
}

// A Linux program: some code and a resource table with entry as SETUP_ARCHIVE/131 (neutral).
Bytes LinuxProgram(const Bytes& entry) {
    const Bytes code = test::Bytes(
        "\x7F"
        "ELF and the program's code");
    const NewResource addition{kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, entry};
    Bytes out;
    std::string reason;
    EXPECT_TRUE(AppendResources(code, {&addition, 1}, out, reason)) << reason;
    return out;
}

Bytes WindowsProgram(const Bytes& entry) {
    return test::BuildPeImage({{{u"SETUP_ARCHIVE"}, {{}, kSetupArchiveId}, 0, entry}}).bytes;
}

// An archive whose header promises more payload than it carries.
Bytes CutArchive() {
    Bytes archive = SmallArchive();
    archive.resize(archive.size() - 1);
    return archive;
}

Bytes WindowsProgramWithDamagedTree() {
    test::PeImage image = test::BuildPeImage({{{u"SETUP_ARCHIVE"}, {{}, 131}, 0, SmallArchive()}});
    test::WriteLe32At(image.bytes, image.treeOffset + test::one_resource_tree::kDataEntrySize,
                      0x7FFFFFFF);
    return image.bytes;
}

Bytes DamagedTable() {
    Bytes program = test::Bytes("stub");
    program.resize(program.size() + 24);
    program.insert(program.end(), std::begin(kResourceTableMagic), std::end(kResourceTableMagic));
    return program;
}

TEST(EmbeddedArchiveTest, FindsTheCarriedArchiveOrSaysWhyNot) {
    struct Case {
        const char* name;
        std::function<Bytes()> program;
        EmbeddedArchive found;
        bool reasonGiven;  // the program's file is what is wrong
        Failure failure;   // the extractor's
    };
    const Case cases[] = {
        {"a plain file", [] { return test::Bytes("not a program"); }, EmbeddedArchive::kNone, false,
         Failure::kNone},
        {"a Linux program with the placeholder", [] { return LinuxProgram(kPlaceholder); },
         EmbeddedArchive::kNone, false, Failure::kNone},
        {"a Linux program with an archive", [] { return LinuxProgram(SmallArchive()); },
         EmbeddedArchive::kLoaded, false, Failure::kNone},
        {"a Linux program with a cut archive", [] { return LinuxProgram(CutArchive()); },
         EmbeddedArchive::kDamaged, false, Failure::kShortPayload},
        {"a damaged resource table", DamagedTable, EmbeddedArchive::kDamaged, true, Failure::kNone},
        {"a Windows program with the placeholder", [] { return WindowsProgram(kPlaceholder); },
         EmbeddedArchive::kNone, false, Failure::kNone},
        {"a Windows program with an archive", [] { return WindowsProgram(SmallArchive()); },
         EmbeddedArchive::kLoaded, false, Failure::kNone},
        {"a Windows program with a cut archive", [] { return WindowsProgram(CutArchive()); },
         EmbeddedArchive::kDamaged, false, Failure::kShortPayload},
        {"a Windows program whose tree overruns the file", WindowsProgramWithDamagedTree,
         EmbeddedArchive::kDamaged, true, Failure::kNone},
    };
    test::TempDir dir;
    const std::string path = (dir.path() / "program").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFileBytes(path, c.program());
        ArchiveExtractor extractor;
        std::string reason = "left alone";
        EXPECT_EQ(LoadEmbeddedArchive(path, extractor, reason), c.found);
        EXPECT_EQ(reason != "left alone", c.reasonGiven) << reason;
        EXPECT_EQ(extractor.failure(), c.failure) << DescribeFailure(extractor.failure());
        if (c.found == EmbeddedArchive::kLoaded) {
            EXPECT_NE(extractor.header(), nullptr);
        }
    }
}

TEST(EmbeddedArchiveTest, AMissingFileCarriesNoArchive) {
    test::TempDir dir;
    ArchiveExtractor extractor;
    std::string reason;
    EXPECT_EQ(LoadEmbeddedArchive((dir.path() / "absent").string(), extractor, reason),
              EmbeddedArchive::kNone);
    EXPECT_TRUE(reason.empty());
}

}  // namespace
}  // namespace winqor
