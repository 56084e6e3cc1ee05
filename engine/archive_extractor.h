// One extraction: an archive from its stored form to decoded records in memory, and from
// there to folders and files below a root. The extractor composes the three duties, each a
// class of its own and all three private, and drives them through the operations its callers
// know it by; what else a caller needs (the failure, Setup.exe's start and status, the header)
// it answers itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decoded_archive.h"
#include "engine/extraction_report.h"
#include "engine/extraction_request.h"
#include "engine/output_stage.h"
#include "engine/record_sink.h"
#include "format/archive_header.h"
#include "platform/tree_writing.h"

namespace winqor {

class ArchiveExtractor {
  public:
    ArchiveExtractor() = default;
    ArchiveExtractor(const ArchiveExtractor&) = delete;
    ArchiveExtractor& operator=(const ArchiveExtractor&) = delete;
    // Closes the file, the root and the folder of the walk, then frees the decoder, the output
    // and the input.
    virtual ~ArchiveExtractor();

    // The archive's operations (see DecodedArchive): 1 on success, 0 on failure.
    int LoadFromFile(const char16_t* path) { return archive_.LoadFromFile(path); }
    void CloseArchiveFile() { archive_.CloseArchiveFile(); }
    int ValidateHeader(const ArchiveHeader* header) { return archive_.ValidateHeader(header); }
    void SetPasswordDigest(const uint8_t* digest) { archive_.SetPasswordDigest(digest); }
    int DecodePayload() { return archive_.DecodePayload(); }
    int Decompress() { return archive_.Decompress(); }
    int LoadFromImage(const uint8_t* image, uint64_t imageBytes) {
        return archive_.LoadFromImage(image, imageBytes);
    }
    // Takes an already decoded record stream, for a walk of the records alone; 1 when copied.
    int UseDecodedStream(const uint8_t* stream, uint32_t size) {
        return archive_.UseDecodedStream(stream, size);
    }

    // The walk's operations (see OutputStage).
    int EnterRoot(const char16_t* folderPath, RootTrust trust = RootTrust::kChosen) {
        rootTrust_ = trust;
        return tree_.EnterRoot(folderPath, trust);
    }
    int OutputArchive() { return tree_.OutputArchive(); }
    uint32_t OutputDirectory(uint32_t remaining) { return tree_.OutputDirectory(remaining); }
    uint32_t OutputFiles(uint32_t expected) { return tree_.OutputFiles(expected); }
    uint32_t OutputFile() { return tree_.OutputFile(); }
    // Walks the records with every check of OutputArchive, writing nothing: each record goes
    // to sink (null: none). 1 when the whole stream passed.
    int CheckRecords(RecordSink* sink = nullptr) { return tree_.CheckRecords(sink); }
    // Closes the root and the folder of the walk; done when an extraction ends.
    void CloseFolders() { tree_.CloseFolders(); }

    // Makes and enters folderPath, decodes, and writes the records below it, in a sandboxed
    // child. DecodePayload's result, or 0 when the folder cannot be made or entered; a failed
    // walk does not change it.
    int ExtractToFolder(const char16_t* folderPath);
    // The self-extracting run: the archive is an image of imageBytes bytes, its header first
    // (the image's size is known here so that nothing past its end is read).
    int ExtractEmbedded(const uint8_t* image, uint64_t imageBytes);
    // Starts the Setup.exe this extractor's walk wrote at the top of its root, with arguments,
    // and waits for it; 1 when it ran, its exit status kept (see SetupExitStatus). A Setup.exe
    // the walk did not write is not started.
    int StartSetup(const std::vector<std::u16string>& arguments);

    // The request for mode on this extractor's archive (loaded, or given as image), with its
    // password's digest and, once EnterRoot succeeded, its root.
    ExtractionRequest Request(ExtractionMode mode) const;
    ExtractionRequest Request(ExtractionMode mode, const uint8_t* image, uint64_t imageBytes) const;
    // Runs request (in the sandbox) and keeps what it found out, its failure and the watched
    // file, as this extractor's.
    ExtractionResult Run(const ExtractionRequest& request);

    // The first failure, and where it happened (a path or a record name; empty when none).
    Failure failure() const { return report_.failure(); }
    const std::u16string& failureWhere() const { return report_.failureWhere(); }
    // Keeps failure as the extraction's, unless an earlier one stopped it first.
    void RecordFailure(Failure failure, std::u16string_view where = {}) {
        report_.RecordFailure(failure, where);
    }
    // The exit status of the Setup.exe a self-extracting run started; false when it started
    // none.
    bool SetupExitStatus(uint32_t& status) const { return report_.SetupExitStatus(status); }
    // The header this extractor was given or read; null before one was.
    const ArchiveHeader* header() const { return archive_.header(); }
    // The decoded record stream's unpackedSize bytes, once the buffers exist (empty before);
    // they hold the records once DecodePayload or UseDecodedStream succeeded.
    std::span<const uint8_t> DecodedStream() const;
    // The root's path, once EnterRoot made it current; empty before.
    const char16_t* folder() const { return tree_.folder(); }
    // The root, once EnterRoot opened it.
    DirectoryHandle rootFolder() const { return tree_.rootFolder(); }

  private:
    // The duties, in the order they are made: each later one works on those before it.
    ExtractionReport report_;  // the first failure, and Setup.exe's exit status
    DecodedArchive archive_{report_};
    OutputStage tree_{archive_, report_};
    RootTrust rootTrust_ = RootTrust::kChosen;
};

}  // namespace winqor
