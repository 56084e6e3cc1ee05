#include "engine/archive_extractor.h"

#include <cstring>
#include <new>

#include "engine/bzip2_decoder.h"
#include "engine/bzip2_parallel.h"
#include "format/archive_header.h"
#include "platform/text.h"
#include "protection/md5.h"
#include "protection/password.h"
#include "protection/payload_key.h"

namespace winqor {

const char* DescribeFailure(Failure failure) {
    switch (failure) {
        case Failure::kNone:
            return "no failure";
        case Failure::kOpenFailed:
            return "cannot open the archive";
        case Failure::kShortHeader:
            return "not an archive: shorter than its 256-byte header";
        case Failure::kHeaderRejected:
            return "not an archive, or its sizes are out of range";
        case Failure::kOutOfMemory:
            return "out of memory";
        case Failure::kDecoderRefused:
            return "the decompressor cannot be started";
        case Failure::kShortPayload:
            return "damaged archive: it ends before its payload does";
        case Failure::kDigestMismatch:
            return "damaged archive or wrong password: digest mismatch";
        case Failure::kCorruptData:
            return "damaged archive: corrupt compressed data";
        case Failure::kSizeMismatch:
            return "damaged archive: unexpected unpacked size";
        case Failure::kRootFailed:
            return "cannot create or enter the destination folder";
        case Failure::kMalformedRecord:
            return "damaged archive: malformed record";
        case Failure::kUnsafeName:
            return "refused a name that leaves the destination";
        case Failure::kPathTooLong:
            return "path too long";
        case Failure::kLinkRefused:
            return "refused to follow a symbolic link";
        case Failure::kFolderFailed:
            return "cannot create or enter a folder";
        case Failure::kCreateFailed:
            return "cannot create a file";
        case Failure::kWriteFailed:
            return "cannot write a file completely";
        case Failure::kFolderInTheWay:
            return "cannot create a file: a folder of that name is in the way";
        case Failure::kRootIsLink:
            return "refused the output folder: it is a symbolic link";
        case Failure::kRootNotOwned:
            return "refused the output folder: it belongs to another user";
        case Failure::kExtractionEnded:
            return "the extraction ended before it could report";
    }
    return "unknown failure";
}

ArchiveExtractor::ArchiveExtractor() {
    folder[0] = 0;
}

ArchiveExtractor::~ArchiveExtractor() {
    CloseArchiveFile();
    CloseFolders();
    decoder.reset();
    output.reset();
    input.reset();
}

void ArchiveExtractor::RecordFailure(Failure failure, std::u16string_view where) {
    if (failure_ != Failure::kNone) return;
    failure_ = failure;
    failureWhere_ = where;
}

void ArchiveExtractor::CloseArchiveFile() {
    CloseFile(archiveFile);
    archiveFile = kInvalidHandle;
}

int ArchiveExtractor::LoadFromFile(const char16_t* path) {
    const std::u16string_view where(path == nullptr ? u"" : path, Utf16Length(path));
    archiveFile = OpenForRead(path);
    if (archiveFile == kInvalidHandle) {
        RecordFailure(Failure::kOpenFailed, where);
        return 0;
    }
    if (ReadBytes(archiveFile, g_headerCopy.image, kHeaderBytes) != kHeaderBytes) {
        RecordFailure(Failure::kShortHeader, where);
        return 0;
    }
    g_currentHeader = &g_headerCopy;
    if (ValidateHeader() == 0) return 0;
    if (ReadBytes(archiveFile, input->data, packedSize) != packedSize) {
        RecordFailure(Failure::kShortPayload, where);
        return 0;
    }
    return 1;
}

int ArchiveExtractor::ValidateHeader() {
    if (CheckHeader(g_currentHeader) != HeaderVerdict::kAccepted) {
        RecordFailure(Failure::kHeaderRejected);
        return 0;
    }
    packedSize = PackedSize(*g_currentHeader);
    unpackedSize = UnpackedSize(*g_currentHeader);
    input.reset(new (std::nothrow) ByteBuffer);
    output.reset(new (std::nothrow) ByteBuffer);
    if (!input || !output || !input->Allocate(packedSize) || !output->Allocate(unpackedSize)) {
        RecordFailure(Failure::kOutOfMemory);
        return 0;
    }
    decoder.reset(new (std::nothrow) Bzip2Decoder);
    if (!decoder) {
        RecordFailure(Failure::kOutOfMemory);
        return 0;
    }
    if (decoder->Init() == 0) {
        RecordFailure(Failure::kDecoderRefused);
        return 0;
    }
    return 1;
}

int ArchiveExtractor::DecodePayload() {
    // The header's packedSize is distrusted: it must still fit the block it was allocated for.
    if (g_currentHeader == nullptr || !input || input->data == nullptr ||
        PackedSize(*g_currentHeader) > input->capacity) {
        RecordFailure(Failure::kHeaderRejected);
        return 0;
    }
    uint8_t* block = input->data;
    const auto length = static_cast<int32_t>(PackedSize(*g_currentHeader));
    if (IsEncrypted(*g_currentHeader)) {
        uint8_t key[16];
        if (DeriveKey(key, KeySeed(*g_currentHeader), g_passwordDigest) != nullptr) {
            DecryptPayload(block, block, length, key);
        }
    }
    uint8_t digest[kDigestBytes];
    if (Md5Digest(digest, block, length) == 0 ||
        std::memcmp(digest, PayloadDigest(*g_currentHeader), kDigestBytes) != 0) {
        RecordFailure(Failure::kDigestMismatch);
        return 0;
    }
    return Decompress();
}

int ArchiveExtractor::Decompress() {
    if (!decoder || !output || !input) return 0;
    // A whole stream of several blocks decodes on every processor. Anything else, a damaged
    // stream included, takes the one call below, which decides how it fails.
    if (DecodeBlocksInParallel(input->data, packedSize, output->data, unpackedSize,
                               DecoderThreads()) != 0) {
        return 1;
    }
    uint32_t outCount = unpackedSize;
    uint32_t inCount = packedSize;
    const int code = decoder->Decode(output->data, &outCount, input->data, &inCount);
    if (code == 0) {
        RecordFailure(Failure::kCorruptData);
        return 0;
    }
    if (outCount != unpackedSize) {
        RecordFailure(Failure::kSizeMismatch);
        return 0;
    }
    return 1;
}

}  // namespace winqor

namespace winqor {

int ArchiveExtractor::LoadFromImage(const uint8_t* image, uint64_t imageBytes) {
    if (image == nullptr || imageBytes < kHeaderBytes) {
        RecordFailure(Failure::kShortHeader);
        return 0;
    }
    std::memcpy(g_headerCopy.image, image, kHeaderBytes);
    g_currentHeader = &g_headerCopy;
    if (ValidateHeader() == 0) return 0;
    if (imageBytes - kHeaderBytes < packedSize) {
        RecordFailure(Failure::kShortPayload);
        return 0;
    }
    std::memcpy(input->data, image + kHeaderBytes, packedSize);
    return 1;
}

}  // namespace winqor
