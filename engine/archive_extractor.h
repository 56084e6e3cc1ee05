// One extraction: an archive from its stored form to decoded records in memory, and from
// there to folders and files below a root. The extractor composes the three duties, each a
// class of its own, and drives them through the operations its callers know it by.
#pragma once

#include <cstdint>

#include "engine/decoded_archive.h"
#include "engine/extraction_report.h"
#include "engine/extraction_request.h"
#include "engine/record_sink.h"
#include "engine/tree_writer.h"
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
    int LoadFromFile(const char16_t* path) { return archive.LoadFromFile(path); }
    void CloseArchiveFile() { archive.CloseArchiveFile(); }
    int ValidateHeader(const ArchiveHeader* header) { return archive.ValidateHeader(header); }
    void SetPasswordDigest(const uint8_t* digest) { archive.SetPasswordDigest(digest); }
    int DecodePayload() { return archive.DecodePayload(); }
    int Decompress() { return archive.Decompress(); }
    int LoadFromImage(const uint8_t* image, uint64_t imageBytes) {
        return archive.LoadFromImage(image, imageBytes);
    }

    // The walk's operations (see TreeWriter).
    int EnterRoot(const char16_t* folderPath, RootTrust trust = RootTrust::kChosen) {
        rootTrust_ = trust;
        return tree.EnterRoot(folderPath, trust);
    }
    int OutputArchive() { return tree.OutputArchive(); }
    uint32_t OutputDirectory(uint32_t remaining) { return tree.OutputDirectory(remaining); }
    uint32_t OutputFiles(uint32_t expected) { return tree.OutputFiles(expected); }
    uint32_t OutputFile() { return tree.OutputFile(); }

    // Makes and enters folderPath, decodes, and writes the records below it, in a sandboxed
    // child. DecodePayload's result, or 0 when the folder cannot be made or entered; a failed
    // walk does not change it.
    int ExtractToFolder(const char16_t* folderPath);
    // The self-extracting run: the archive is an image of imageBytes bytes, its header first
    // (the image's size is known here so that nothing past its end is read).
    int ExtractEmbedded(const uint8_t* image, uint64_t imageBytes);

    // The request for mode on this extractor's archive (loaded, or given as image), with its
    // password's digest and, once EnterRoot succeeded, its root.
    ExtractionRequest Request(ExtractionMode mode) const;
    ExtractionRequest Request(ExtractionMode mode, const uint8_t* image, uint64_t imageBytes) const;
    // Runs request (in the sandbox) and keeps what it found out, its failure and the watched
    // file, as this extractor's.
    ExtractionResult Run(const ExtractionRequest& request);

    // The duties, in the order they are made: each later one works on those before it.
    ExtractionReport report;  // the first failure, and Setup.exe's exit status
    DecodedArchive archive{report};
    TreeWriter tree{archive, report};

  private:
    RootTrust rootTrust_ = RootTrust::kChosen;
};

}  // namespace winqor
