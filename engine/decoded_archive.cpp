#include "engine/decoded_archive.h"

#include <cstring>
#include <new>

#include "base/text.h"
#include "engine/bzip2_decoder.h"
#include "engine/bzip2_parallel.h"
#include "protection/md5.h"
#include "protection/payload_key.h"

namespace winqor {

DecodedArchive::DecodedArchive(ExtractionReport& report) : report_(report) {}

DecodedArchive::~DecodedArchive() {
    CloseArchiveFile();
    decoder_.reset();
    output_.reset();
    input_.reset();
}

void DecodedArchive::CloseArchiveFile() {
    CloseFile(archiveFile_);
    archiveFile_ = kInvalidHandle;
}

int DecodedArchive::LoadFromFile(const char16_t* path) {
    const std::u16string_view where(path == nullptr ? u"" : path, Utf16Length(path));
    archiveFile_ = OpenForRead(path);
    if (archiveFile_ == kInvalidHandle) {
        report_.RecordFailure(Failure::kOpenFailed, where);
        return 0;
    }
    ArchiveHeader read;
    if (ReadBytes(archiveFile_, read.image, kHeaderBytes) != kHeaderBytes) {
        report_.RecordFailure(Failure::kShortHeader, where);
        return 0;
    }
    if (ValidateHeader(&read) == 0) return 0;
    if (ReadBytes(archiveFile_, input_->data, packedSize_) != packedSize_) {
        report_.RecordFailure(Failure::kShortPayload, where);
        return 0;
    }
    return 1;
}

int DecodedArchive::ValidateHeader(const ArchiveHeader* header) {
    if (header != nullptr) {
        header_ = *header;
        hasHeader_ = true;
    }
    if (CheckHeader(this->header()) != HeaderVerdict::kAccepted) {
        report_.RecordFailure(Failure::kHeaderRejected);
        return 0;
    }
    packedSize_ = PackedSize(header_);
    unpackedSize_ = UnpackedSize(header_);
    return AllocateBuffersAndDecoder() ? 1 : 0;
}

bool DecodedArchive::AllocateBuffersAndDecoder() {
    input_.reset(new (std::nothrow) ByteBuffer);
    output_.reset(new (std::nothrow) ByteBuffer);
    if (!input_ || !output_ || !input_->Allocate(packedSize_) ||
        !output_->Allocate(unpackedSize_)) {
        report_.RecordFailure(Failure::kOutOfMemory);
        return false;
    }
    decoder_.reset(new (std::nothrow) Bzip2Decoder);
    if (!decoder_) {
        report_.RecordFailure(Failure::kOutOfMemory);
        return false;
    }
    return true;
}

// The library's state is set up by the first decode, not when the header is taken: a front end
// loads the archive unconfined, and only the sandboxed child that decodes it may run the
// library at all.
bool DecodedArchive::OpenDecoder() {
    if (decoderOpened_) return true;
    decoderOpened_ = true;
    if (decoder_->Init() != 0) return true;
    report_.RecordFailure(Failure::kDecoderRefused);
    return false;
}

void DecodedArchive::SetPasswordDigest(const uint8_t* digest) {
    if (digest == nullptr) return;
    std::memcpy(passwordDigest_, digest, sizeof passwordDigest_);
    hasPasswordDigest_ = true;
}

int DecodedArchive::DecodePayload() {
    return CheckPayload() != 0 ? Decompress() : 0;
}

int DecodedArchive::CheckPayload() {
    // The header's packedSize is distrusted: it must still fit the block it was allocated for.
    if (!hasHeader_ || !input_ || input_->data == nullptr ||
        PackedSize(header_) > input_->capacity) {
        report_.RecordFailure(Failure::kHeaderRejected);
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
        report_.RecordFailure(Failure::kDigestMismatch);
        return 0;
    }
    return 1;
}

int DecodedArchive::Decompress() {
    // A whole stream of several blocks decodes on every processor. Anything else, a damaged
    // stream included, takes the one call, which decides how it fails.
    return DecompressInParallel(nullptr) != 0 ? 1 : DecompressInOneCall();
}

int DecodedArchive::DecompressInParallel(DecodedPrefix* prefix) {
    if (!decoder_ || !output_ || !input_) return 0;
    return DecodeBlocksInParallel(input_->data, packedSize_, output_->data, unpackedSize_,
                                  DecoderThreads(), DecoderMemoryBudget(), prefix);
}

int DecodedArchive::DecompressInOneCall() {
    if (!decoder_ || !output_ || !input_ || !OpenDecoder()) return 0;
    uint32_t outCount = unpackedSize_;
    uint32_t inCount = packedSize_;
    const int code = decoder_->Decode(output_->data, &outCount, input_->data, &inCount);
    if (code == 0) {
        report_.RecordFailure(Failure::kCorruptData);
        return 0;
    }
    if (outCount != unpackedSize_) {
        report_.RecordFailure(Failure::kSizeMismatch);
        return 0;
    }
    return 1;
}

int DecodedArchive::LoadFromImage(const uint8_t* image, uint64_t imageBytes) {
    if (image == nullptr || imageBytes < kHeaderBytes) {
        report_.RecordFailure(Failure::kShortHeader);
        return 0;
    }
    ArchiveHeader copied;
    std::memcpy(copied.image, image, kHeaderBytes);
    if (ValidateHeader(&copied) == 0) return 0;
    return CopyPayload(image + kHeaderBytes, imageBytes - kHeaderBytes);
}

// The image itself is never written, and nothing past its end is read.
int DecodedArchive::CopyPayload(const uint8_t* payload, uint64_t payloadBytesAvailable) {
    if (payload == nullptr || payloadBytesAvailable < packedSize_ || !input_) {
        report_.RecordFailure(Failure::kShortPayload);
        return 0;
    }
    std::memcpy(input_->data, payload, packedSize_);
    return 1;
}

int DecodedArchive::UseDecodedStream(const uint8_t* stream, uint32_t size) {
    output_.reset(new (std::nothrow) ByteBuffer);
    if (stream == nullptr || !output_ || !output_->Allocate(size)) {
        report_.RecordFailure(Failure::kOutOfMemory);
        return 0;
    }
    std::memcpy(output_->data, stream, size);
    unpackedSize_ = size;
    return 1;
}

std::vector<uint8_t> DecodedArchive::StoredForm() const {
    if (!hasHeader_ || !input_ || input_->data == nullptr || packedSize_ > input_->capacity) {
        return {};
    }
    std::vector<uint8_t> stored(header_.image, header_.image + kHeaderBytes);
    stored.insert(stored.end(), input_->data, input_->data + packedSize_);
    return stored;
}

void DecodedArchive::RewindOutput() {
    if (output_) output_->position = 0;
}

}  // namespace winqor
