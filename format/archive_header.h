// The fixed 256-byte header that begins every archive, and the process-wide slot through
// which the password prompts reach the header of the archive in question.
#pragma once

#include <cstdint>

namespace winqor {

inline constexpr uint32_t kHeaderBytes = 256;
// Both sizes of the header must be 1..0x9FFF00.
inline constexpr uint32_t kMaxPayloadSize = 0x9FFF00;
inline constexpr uint8_t kMagic[8] = {'S', 'F', 'X', 'S', 'e', 't', 'u', 'p'};

// Field offsets inside the raw image. The reserved bytes 22, 25..27 and 64..255 are never read.
namespace header_offset {
inline constexpr uint32_t kMagic = 0;
inline constexpr uint32_t kHeaderSize = 8;
inline constexpr uint32_t kPackedSize = 12;
inline constexpr uint32_t kUnpackedSize = 16;
inline constexpr uint32_t kEmbedded = 20;
inline constexpr uint32_t kEncrypted = 21;
inline constexpr uint32_t kWriterMark = 23;  // 1 in archives this system writes; not read
inline constexpr uint32_t kRunSetup = 24;
inline constexpr uint32_t kKeySeed = 28;
inline constexpr uint32_t kPasswordCheck = 32;
inline constexpr uint32_t kPayloadDigest = 48;
}  // namespace header_offset

// The header as its raw image. Fields are read with the accessors below, never by layout.
struct ArchiveHeader {
    uint8_t image[kHeaderBytes];
};
static_assert(sizeof(ArchiveHeader) == kHeaderBytes && alignof(ArchiveHeader) == 1);

// Views the first 256 bytes of an archive image (a file's copy or an embedded image).
inline const ArchiveHeader* HeaderAt(const uint8_t* image) {
    return reinterpret_cast<const ArchiveHeader*>(image);
}

// Null at start; points at g_headerCopy after the window loaded a file, or into the image of
// a self-extracting run. Set and read only by the programs' edges (the self-extracting run,
// the window and its password dialog); an extractor keeps its own copy of its header.
extern const ArchiveHeader* g_currentHeader;
// The header last read from an archive file.
extern ArchiveHeader g_headerCopy;

bool HasMagic(const ArchiveHeader& header);
uint32_t PackedSize(const ArchiveHeader& header);
uint32_t UnpackedSize(const ArchiveHeader& header);
bool IsEmbedded(const ArchiveHeader& header);               // byte 20 non-zero
bool IsEncrypted(const ArchiveHeader& header);              // byte 21 exactly 1
bool RunsSetup(const ArchiveHeader& header);                // byte 24 non-zero, tested as one byte
const uint8_t* KeySeed(const ArchiveHeader& header);        // 4 bytes
const uint8_t* PasswordCheck(const ArchiveHeader& header);  // 16 bytes
const uint8_t* PayloadDigest(const ArchiveHeader& header);  // 16 bytes

// The acceptance rules, in the order they are tested; the first that fails is reported.
enum class HeaderVerdict {
    kAccepted,
    kMissing,
    kBadMagic,
    kUnpackedSizeZero,
    kPackedSizeZero,
    kUnpackedSizeTooLarge,
    kPackedSizeTooLarge,
};

HeaderVerdict CheckHeader(const ArchiveHeader* header);

// What a header holds, for writing one.
struct HeaderFields {
    uint32_t packedSize = 0;
    uint32_t unpackedSize = 0;
    bool embedded = true;
    bool encrypted = false;
    bool runSetup = false;
    uint8_t keySeed[4] = {};
    uint8_t passwordCheck[16] = {};
    uint8_t payloadDigest[16] = {};
};

// Writes the 256-byte image of a header this system produces (headerSize 256, byte 23 set).
void BuildHeader(const HeaderFields& fields, uint8_t image[kHeaderBytes]);

}  // namespace winqor
