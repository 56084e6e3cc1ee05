#include "format/archive_header.h"

#include <cstring>

#include "base/little_endian.h"

namespace winqor {

const ArchiveHeader* g_currentHeader = nullptr;
ArchiveHeader g_headerCopy = {};

bool HasMagic(const ArchiveHeader& header) {
    // Tested as two 32-bit words: the first four bytes, then the next four.
    const uint8_t* image = header.image + header_offset::kMagic;
    return ReadLe32(image) == ReadLe32(kMagic) && ReadLe32(image + 4) == ReadLe32(kMagic + 4);
}

uint32_t PackedSize(const ArchiveHeader& header) {
    return ReadLe32(header.image + header_offset::kPackedSize);
}

uint32_t UnpackedSize(const ArchiveHeader& header) {
    return ReadLe32(header.image + header_offset::kUnpackedSize);
}

bool IsEmbedded(const ArchiveHeader& header) {
    return header.image[header_offset::kEmbedded] != 0;
}

bool IsEncrypted(const ArchiveHeader& header) {
    return header.image[header_offset::kEncrypted] == 1;
}

bool RunsSetup(const ArchiveHeader& header) {
    return header.image[header_offset::kRunSetup] != 0;
}

const uint8_t* KeySeed(const ArchiveHeader& header) {
    return header.image + header_offset::kKeySeed;
}

const uint8_t* PasswordCheck(const ArchiveHeader& header) {
    return header.image + header_offset::kPasswordCheck;
}

const uint8_t* PayloadDigest(const ArchiveHeader& header) {
    return header.image + header_offset::kPayloadDigest;
}

HeaderVerdict CheckHeader(const ArchiveHeader* header) {
    if (header == nullptr) return HeaderVerdict::kMissing;
    if (!HasMagic(*header)) return HeaderVerdict::kBadMagic;
    if (UnpackedSize(*header) == 0) return HeaderVerdict::kUnpackedSizeZero;
    if (PackedSize(*header) == 0) return HeaderVerdict::kPackedSizeZero;
    if (UnpackedSize(*header) > kMaxPayloadSize) return HeaderVerdict::kUnpackedSizeTooLarge;
    if (PackedSize(*header) > kMaxPayloadSize) return HeaderVerdict::kPackedSizeTooLarge;
    return HeaderVerdict::kAccepted;
}

void BuildHeader(const HeaderFields& fields, uint8_t image[kHeaderBytes]) {
    std::memset(image, 0, kHeaderBytes);
    std::memcpy(image + header_offset::kMagic, kMagic, sizeof kMagic);
    WriteLe32(image + header_offset::kHeaderSize, kHeaderBytes);
    WriteLe32(image + header_offset::kPackedSize, fields.packedSize);
    WriteLe32(image + header_offset::kUnpackedSize, fields.unpackedSize);
    image[header_offset::kEmbedded] = fields.embedded ? 1 : 0;
    image[header_offset::kEncrypted] = fields.encrypted ? 1 : 0;
    image[header_offset::kWriterMark] = 1;
    image[header_offset::kRunSetup] = fields.runSetup ? 1 : 0;
    std::memcpy(image + header_offset::kKeySeed, fields.keySeed, 4);
    std::memcpy(image + header_offset::kPasswordCheck, fields.passwordCheck, 16);
    std::memcpy(image + header_offset::kPayloadDigest, fields.payloadDigest, 16);
}

}  // namespace winqor
