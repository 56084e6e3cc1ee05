#include "writer/archive_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "format/archive_header.h"
#include "base/little_endian.h"
#include "protection/md5.h"
#include "protection/password.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

TEST(RecordStreamBuilder, GroupSizesCoverTheirFiles) {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    const uint8_t content[5] = {1, 2, 3, 4, 5};
    builder.AddFile(u"ab", 0x21, content, 0x0102030405060708ull);
    builder.AddDirectory(u"\\d");
    const auto& bytes = builder.bytes();
    // root: 32 + 2; file: 32 + 6 + 5; "\d": 32 + 6
    ASSERT_EQ(bytes.size(), 34u + 43u + 38u);
    EXPECT_EQ(ReadLe32(bytes.data() + 12), 34u + 43u);
    EXPECT_EQ(ReadLe32(bytes.data() + 34), 38u);  // headerLength of the file record
    EXPECT_EQ(ReadLe32(bytes.data() + 34 + 8), 0x21u);
    EXPECT_EQ(ReadLe32(bytes.data() + 34 + 12), 5u);
    EXPECT_EQ(ReadLe64(bytes.data() + 34 + 16), 0x0102030405060708ull);
    EXPECT_EQ(ReadLe32(bytes.data() + 77 + 12), 38u);
}

TEST(WriteArchive, HeaderFieldsOfPlainAndEncryptedArchives) {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    const std::vector<uint8_t> records = builder.bytes();
    for (bool encrypted : {false, true}) {
        ArchiveOptions options;
        options.runSetup = encrypted;
        options.keySeed = {1, 2, 3, 4};
        if (encrypted) {
            options.passwordDigest.emplace();
            DerivePasswordDigest(options.passwordDigest->data(), u"abc");
        }
        std::vector<uint8_t> archive;
        std::string reason;
        ASSERT_TRUE(WriteArchive(records, options, archive, reason)) << reason;
        const ArchiveHeader& header = *HeaderAt(archive.data());
        EXPECT_EQ(CheckHeader(&header), HeaderVerdict::kAccepted);
        EXPECT_EQ(archive.size(), kHeaderBytes + PackedSize(header));
        EXPECT_EQ(UnpackedSize(header), records.size());
        EXPECT_TRUE(IsEmbedded(header));
        EXPECT_EQ(IsEncrypted(header), encrypted);
        EXPECT_EQ(RunsSetup(header), encrypted);
        EXPECT_EQ(header.image[23], 1);
        EXPECT_EQ(ReadLe32(header.image + 8), 256u);
        EXPECT_EQ(std::memcmp(KeySeed(header), "\x01\x02\x03\x04", 4), 0);
        if (!encrypted) {
            uint8_t digest[16];
            Md5Digest(digest, archive.data() + kHeaderBytes,
                      static_cast<int32_t>(PackedSize(header)));
            EXPECT_EQ(std::memcmp(digest, PayloadDigest(header), 16), 0);
        } else {
            EXPECT_TRUE(AcceptPassword(u"abc", &header));
            EXPECT_FALSE(AcceptPassword(u"abd", &header));
        }
    }
}

TEST(WriteArchive, RefusesWhatNoReaderCouldOpen) {
    std::vector<uint8_t> archive;
    std::string reason;
    EXPECT_FALSE(WriteArchive({}, {}, archive, reason));
    std::vector<uint8_t> tooLarge(0x9FFF01, 0);
    EXPECT_FALSE(WriteArchive(tooLarge, {}, archive, reason));
    ArchiveOptions zeroDigest;
    zeroDigest.passwordDigest.emplace();
    (*zeroDigest.passwordDigest)[0] = 0;
    (*zeroDigest.passwordDigest)[1] = 0x55;
    const std::vector<uint8_t> records(40, 1);
    EXPECT_FALSE(WriteArchive(records, zeroDigest, archive, reason));
    EXPECT_NE(reason.find("choose another password"), std::string::npos);
}

}  // namespace
}  // namespace winqor
