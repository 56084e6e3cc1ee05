#include "engine/archive_extractor.h"

#include <cstring>
#include <new>

#include "engine/bzip2_decoder.h"
#include "engine/bzip2_parallel.h"
#include "format/archive_header.h"
#include "platform/text.h"
#include "protection/md5.h"
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
        case Failure::kRootWritableByOthers:
            return "refused the output folder: others can write to it";
        case Failure::kFolderNotOwned:
            return "refused a folder: it belongs to another user";
        case Failure::kFolderWritableByOthers:
            return "refused a folder: others can write to it";
        case Failure::kExtractionEnded:
            return "the sandboxed process that read the archive failed";
        case Failure::kSandboxUnavailable:
            return "cannot start the sandboxed process that reads the archive";
    }
    return "unknown failure";
}

ArchiveExtractor::ArchiveExtractor() {
    folder_[0] = 0;
}

ArchiveExtractor::~ArchiveExtractor() {
    CloseArchiveFile();
    CloseFolders();
    decoder_.reset();
    output_.reset();
    input_.reset();
}

void ArchiveExtractor::RecordFailure(Failure failure, std::u16string_view where) {
    if (failure_ != Failure::kNone) return;
    failure_ = failure;
    failureWhere_ = where;
}

void ArchiveExtractor::CloseArchiveFile() {
    CloseFile(archiveFile_);
    archiveFile_ = kInvalidHandle;
}

int ArchiveExtractor::LoadFromFile(const char16_t* path) {
    const std::u16string_view where(path == nullptr ? u"" : path, Utf16Length(path));
    archiveFile_ = OpenForRead(path);
    if (archiveFile_ == kInvalidHandle) {
        RecordFailure(Failure::kOpenFailed, where);
        return 0;
    }
    ArchiveHeader read;
    if (ReadBytes(archiveFile_, read.image, kHeaderBytes) != kHeaderBytes) {
        RecordFailure(Failure::kShortHeader, where);
        return 0;
    }
    if (ValidateHeader(&read) == 0) return 0;
    if (ReadBytes(archiveFile_, input_->data, packedSize_) != packedSize_) {
        RecordFailure(Failure::kShortPayload, where);
        return 0;
    }
    return 1;
}

int ArchiveExtractor::ValidateHeader(const ArchiveHeader* header) {
    if (header != nullptr) {
        header_ = *header;
        hasHeader_ = true;
    }
    if (CheckHeader(this->header()) != HeaderVerdict::kAccepted) {
        RecordFailure(Failure::kHeaderRejected);
        return 0;
    }
    packedSize_ = PackedSize(header_);
    unpackedSize_ = UnpackedSize(header_);
    input_.reset(new (std::nothrow) ByteBuffer);
    output_.reset(new (std::nothrow) ByteBuffer);
    if (!input_ || !output_ || !input_->Allocate(packedSize_) ||
        !output_->Allocate(unpackedSize_)) {
        RecordFailure(Failure::kOutOfMemory);
        return 0;
    }
    decoder_.reset(new (std::nothrow) Bzip2Decoder);
    if (!decoder_) {
        RecordFailure(Failure::kOutOfMemory);
        return 0;
    }
    if (decoder_->Init() == 0) {
        RecordFailure(Failure::kDecoderRefused);
        return 0;
    }
    return 1;
}

void ArchiveExtractor::SetPasswordDigest(const uint8_t* digest) {
    if (digest != nullptr) std::memcpy(passwordDigest_, digest, sizeof passwordDigest_);
}

int ArchiveExtractor::DecodePayload() {
    // The header's packedSize is distrusted: it must still fit the block it was allocated for.
    if (!hasHeader_ || !input_ || input_->data == nullptr ||
        PackedSize(header_) > input_->capacity) {
        RecordFailure(Failure::kHeaderRejected);
        return 0;
    }
    uint8_t* block = input_->data;
    const auto length = static_cast<int32_t>(PackedSize(header_));
    if (IsEncrypted(header_)) {
        uint8_t key[16];
        if (DeriveKey(key, KeySeed(header_), passwordDigest_) != nullptr) {
            DecryptPayload(block, block, length, key);
        }
    }
    uint8_t digest[kDigestBytes];
    if (Md5Digest(digest, block, length) == 0 ||
        std::memcmp(digest, PayloadDigest(header_), kDigestBytes) != 0) {
        RecordFailure(Failure::kDigestMismatch);
        return 0;
    }
    return Decompress();
}

int ArchiveExtractor::Decompress() {
    if (!decoder_ || !output_ || !input_) return 0;
    // A whole stream of several blocks decodes on every processor. Anything else, a damaged
    // stream included, takes the one call below, which decides how it fails.
    if (DecodeBlocksInParallel(input_->data, packedSize_, output_->data, unpackedSize_,
                               DecoderThreads()) != 0) {
        return 1;
    }
    uint32_t outCount = unpackedSize_;
    uint32_t inCount = packedSize_;
    const int code = decoder_->Decode(output_->data, &outCount, input_->data, &inCount);
    if (code == 0) {
        RecordFailure(Failure::kCorruptData);
        return 0;
    }
    if (outCount != unpackedSize_) {
        RecordFailure(Failure::kSizeMismatch);
        return 0;
    }
    return 1;
}

void ArchiveExtractor::RewindOutput() {
    if (output_) output_->position = 0;
}

int ArchiveExtractor::UseDecodedStream(const uint8_t* stream, uint32_t size) {
    output_.reset(new (std::nothrow) ByteBuffer);
    if (stream == nullptr || !output_ || !output_->Allocate(size)) {
        RecordFailure(Failure::kOutOfMemory);
        return 0;
    }
    std::memcpy(output_->data, stream, size);
    unpackedSize_ = size;
    return 1;
}

}  // namespace winqor

namespace winqor {

int ArchiveExtractor::LoadFromImage(const uint8_t* image, uint64_t imageBytes) {
    if (image == nullptr || imageBytes < kHeaderBytes) {
        RecordFailure(Failure::kShortHeader);
        return 0;
    }
    ArchiveHeader copied;
    std::memcpy(copied.image, image, kHeaderBytes);
    if (ValidateHeader(&copied) == 0) return 0;
    return CopyPayload(image + kHeaderBytes, imageBytes - kHeaderBytes);
}

// The image itself is never written, and nothing past its end is read.
int ArchiveExtractor::CopyPayload(const uint8_t* payload, uint64_t payloadBytesAvailable) {
    if (payload == nullptr || payloadBytesAvailable < packedSize_ || !input_) {
        RecordFailure(Failure::kShortPayload);
        return 0;
    }
    std::memcpy(input_->data, payload, packedSize_);
    return 1;
}

}  // namespace winqor
