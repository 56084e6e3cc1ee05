// An archive from its stored form to its decoded record stream in memory: the header read
// and checked, the payload loaded, deciphered in place when the header says so, checked
// against its digest and decompressed. Results: 1 on success, 0 on failure, the reason
// recorded in the report.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/byte_buffer.h"
#include "engine/extraction_report.h"
#include "format/archive_header.h"
#include "platform/file.h"

namespace winqor {

class Bzip2Decoder;
class DecodedPrefix;

// The decoder's own progress lines go to standard error at this verbosity (0 to 4; 4 unless
// the hosting program sets another).
void SetDecoderVerbosity(int verbosity);
int DecoderVerbosity();

// When reported, each decode says on the debug channel on how many threads it ran and why
// (aze -v). Off unless the hosting program turns it on: the extractor's own trace is the
// output stage's alone.
void SetDecoderChoiceReported(bool reported);

class DecodedArchive {
  public:
    explicit DecodedArchive(ExtractionReport& report);
    DecodedArchive(const DecodedArchive&) = delete;
    DecodedArchive& operator=(const DecodedArchive&) = delete;
    // Closes the file, then destroys the decoder, the output and the input, in that order.
    ~DecodedArchive();

    // 1 when the header was read and accepted and the whole payload is in input. The archive
    // keeps its own copy of the header; the process-wide slots are not touched.
    int LoadFromFile(const char16_t* path);
    void CloseArchiveFile();
    // Copies header (null: none) as this archive's header; 1 when it is accepted and both
    // buffers and the decoder exist. Called once per object.
    int ValidateHeader(const ArchiveHeader* header);
    // The digest of the accepted password of an encrypted archive (16 bytes), from which the
    // payload's key is derived. All zero until given.
    void SetPasswordDigest(const uint8_t* digest);
    // Deciphers input in place when the header says so, checks the digest, decompresses.
    int DecodePayload();
    // DecodePayload's first half: the payload deciphered and its digest checked.
    int CheckPayload();
    // 1 when one decoder call produced exactly unpackedSize bytes.
    int Decompress();
    // Decompress's two ways: the blocks on several threads, telling prefix (may be null) how
    // far the output is in place, which records nothing and is 0 whenever it does not finish;
    // and the one call, which decides how a stream fails.
    int DecompressInParallel(DecodedPrefix* prefix);
    int DecompressInOneCall();
    // Like LoadFromFile, from an image in memory of imageBytes bytes (an archive carried
    // inside a program): the header is copied, the payload to input.
    int LoadFromImage(const uint8_t* image, uint64_t imageBytes);
    // Takes a decoded record stream of size bytes as if DecodePayload had produced it, for a
    // walk of the records alone; 1 when it was copied.
    int UseDecodedStream(const uint8_t* stream, uint32_t size);

    // The archive's stored form, its header then its payload, once LoadFromFile or
    // LoadFromImage succeeded; empty before.
    std::vector<uint8_t> StoredForm() const;
    // The password's digest, when SetPasswordDigest gave one.
    const uint8_t* passwordDigest() const { return hasPasswordDigest_ ? passwordDigest_ : nullptr; }

    // The header this archive was given or read; null before one was.
    const ArchiveHeader* header() const { return hasHeader_ ? &header_ : nullptr; }
    uint32_t unpackedSize() const { return unpackedSize_; }
    // The decoded record stream, whose position is the walk's cursor; null before the
    // buffers exist.
    ByteBuffer* output() { return output_.get(); }
    const ByteBuffer* output() const { return output_.get(); }
    // Puts the walk's cursor back at the stream's start, for a second walk.
    void RewindOutput();

  private:
    // Copies the payload of an image holding payloadBytesAvailable bytes into input.
    int CopyPayload(const uint8_t* payload, uint64_t payloadBytesAvailable);
    bool AllocateBuffersAndDecoder();
    bool OpenDecoder();

    ExtractionReport& report_;
    ArchiveHeader header_ = {};
    bool hasHeader_ = false;
    uint8_t passwordDigest_[16] = {};
    bool hasPasswordDigest_ = false;
    std::unique_ptr<ByteBuffer> input_;
    std::unique_ptr<ByteBuffer> output_;
    uint32_t packedSize_ = 0;
    uint32_t unpackedSize_ = 0;
    std::unique_ptr<Bzip2Decoder> decoder_;
    bool decoderOpened_ = false;  // the library's stream was opened (or refused) once
    FileHandle archiveFile_ = kInvalidHandle;
};

}  // namespace winqor
