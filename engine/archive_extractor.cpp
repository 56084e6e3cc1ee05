#include "engine/archive_extractor.h"

#include <algorithm>
#include <cstring>

#include "engine/sandboxed_runner.h"
#include "format/archive_header.h"

namespace winqor {
namespace {

// The most of an image a request carries: a header and the largest payload.
constexpr uint64_t kMaxArchiveBytes = kHeaderBytes + uint64_t{kMaxPayloadSize};

}  // namespace

ArchiveExtractor::~ArchiveExtractor() {
    archive_.CloseArchiveFile();
    tree_.CloseFolders();
}

ExtractionRequest ArchiveExtractor::Request(ExtractionMode mode) const {
    ExtractionRequest request;
    request.mode = mode;
    request.archive = archive_.StoredForm();
    if (const uint8_t* digest = archive_.passwordDigest()) {
        request.passwordDigest.emplace();
        std::memcpy(request.passwordDigest->data(), digest, request.passwordDigest->size());
    }
    request.root = tree_.rootFolder();
    request.rootPath = tree_.folder();
    request.trust = rootTrust_;
    request.freeBytes = tree_.freeBytes();
    request.decoderVerbosity = static_cast<uint8_t>(DecoderVerbosity());
    return request;
}

ExtractionRequest ArchiveExtractor::Request(ExtractionMode mode, const uint8_t* image,
                                            uint64_t imageBytes) const {
    ExtractionRequest request = Request(mode);
    if (image != nullptr) {
        request.archive.assign(image, image + std::min(imageBytes, kMaxArchiveBytes));
    }
    return request;
}

ExtractionResult ArchiveExtractor::Run(const ExtractionRequest& request) {
    const ExtractionResult result = RunExtraction(request);
    RecordResultFailure(result, report_);
    if (result.watched) tree_.NoteWatchedFile(*result.watched);
    return result;
}

std::span<const uint8_t> ArchiveExtractor::DecodedStream() const {
    const ByteBuffer* stream = archive_.output();
    if (stream == nullptr || stream->data == nullptr) return {};
    return {stream->data, archive_.unpackedSize()};
}

int ArchiveExtractor::ExtractToFolder(const char16_t* folderPath) {
    if (EnterRoot(folderPath) == 0) return 0;
    const ExtractionResult result = Run(Request(ExtractionMode::kExtract));
    tree_.CloseFolders();
    // DecodePayload's result: a walk that failed does not change it.
    return result.outcome == ExtractionOutcome::kDamaged ||
                   result.outcome == ExtractionOutcome::kSandboxFailed
               ? 0
               : 1;
}

}  // namespace winqor
