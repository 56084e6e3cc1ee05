#include "format/archive_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/little_endian.h"

namespace winqor {
namespace {

ArchiveHeader ValidHeader() {
    HeaderFields fields;
    fields.packedSize = 100;
    fields.unpackedSize = 200;
    ArchiveHeader header;
    BuildHeader(fields, header.image);
    return header;
}

TEST(CheckHeader, RejectsEveryWrongMagicByteAndCase) {
    EXPECT_EQ(CheckHeader(nullptr), HeaderVerdict::kMissing);
    for (int i = 0; i < 8; ++i) {
        for (uint8_t change : {uint8_t{0x01}, uint8_t{0x20}, uint8_t{0x80}}) {
            ArchiveHeader header = ValidHeader();
            header.image[i] ^= change;  // 0x20 flips the letter's case
            EXPECT_EQ(CheckHeader(&header), HeaderVerdict::kBadMagic) << i << " " << int(change);
        }
    }
}

TEST(CheckHeader, SizeLimitsInTheirOrder) {
    struct Case {
        uint32_t packed, unpacked;
        HeaderVerdict verdict;
    };
    const Case cases[] = {
        {1, 1, HeaderVerdict::kAccepted},
        {0x9FFF00, 0x9FFF00, HeaderVerdict::kAccepted},
        {0, 1, HeaderVerdict::kPackedSizeZero},
        {1, 0, HeaderVerdict::kUnpackedSizeZero},
        {0, 0, HeaderVerdict::kUnpackedSizeZero},
        {0x9FFF01, 1, HeaderVerdict::kPackedSizeTooLarge},
        {1, 0x9FFF01, HeaderVerdict::kUnpackedSizeTooLarge},
        {0, 0x9FFF01, HeaderVerdict::kPackedSizeZero},
        {0xFFFFFFFF, 0xFFFFFFFF, HeaderVerdict::kUnpackedSizeTooLarge},
        {5000, 10, HeaderVerdict::kAccepted},  // packed larger than unpacked is not tested
    };
    for (const auto& c : cases) {
        ArchiveHeader header = ValidHeader();
        WriteLe32(header.image + header_offset::kPackedSize, c.packed);
        WriteLe32(header.image + header_offset::kUnpackedSize, c.unpacked);
        EXPECT_EQ(CheckHeader(&header), c.verdict) << c.packed << " " << c.unpacked;
    }
}

TEST(CheckHeader, IgnoresHeaderSizeAndReservedBytes) {
    for (uint32_t headerSize : {0u, 1u, 255u, 257u, 0xFFFFFFFFu}) {
        ArchiveHeader header = ValidHeader();
        WriteLe32(header.image + header_offset::kHeaderSize, headerSize);
        std::memset(header.image + 64, 0xEE, 192);
        header.image[22] = header.image[25] = 0x7F;
        EXPECT_EQ(CheckHeader(&header), HeaderVerdict::kAccepted);
    }
}

TEST(HeaderFlags, EncryptedOnlyForExactlyOneAndRunSetupAsOneByte) {
    struct Case {
        uint8_t value;
        bool encrypted;
    };
    for (Case c : {Case{0, false}, Case{1, true}, Case{2, false}, Case{255, false}}) {
        ArchiveHeader header = ValidHeader();
        header.image[header_offset::kEncrypted] = c.value;
        EXPECT_EQ(IsEncrypted(header), c.encrypted) << int(c.value);
    }
    ArchiveHeader header = ValidHeader();
    header.image[25] = header.image[26] = header.image[27] = 0xFF;
    EXPECT_FALSE(RunsSetup(header));
    header.image[header_offset::kRunSetup] = 0x80;
    EXPECT_TRUE(RunsSetup(header));
}

TEST(BuildHeader, WritesTheFieldsAtTheirOffsets) {
    HeaderFields fields;
    fields.packedSize = 0x01020304;
    fields.unpackedSize = 0x0A0B0C0D;
    fields.runSetup = true;
    fields.encrypted = true;
    fields.keySeed[0] = 0xF7;
    fields.passwordCheck[15] = 0x42;
    fields.payloadDigest[0] = 0x99;
    uint8_t image[kHeaderBytes];
    BuildHeader(fields, image);
    EXPECT_EQ(std::memcmp(image, "SFXSetup", 8), 0);
    EXPECT_EQ(ReadLe32(image + 8), 256u);
    EXPECT_EQ(image[12], 0x04);
    EXPECT_EQ(image[19], 0x0A);
    EXPECT_EQ(image[20], 1);
    EXPECT_EQ(image[21], 1);
    EXPECT_EQ(image[22], 0);
    EXPECT_EQ(image[23], 1);
    EXPECT_EQ(image[24], 1);
    EXPECT_EQ(image[28], 0xF7);
    EXPECT_EQ(image[47], 0x42);
    EXPECT_EQ(image[48], 0x99);
    for (uint32_t i = 64; i < kHeaderBytes; ++i) ASSERT_EQ(image[i], 0) << i;
}

}  // namespace
}  // namespace winqor
