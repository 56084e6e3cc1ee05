// One extraction as data: what a front end asks of the engine, and what it hears back. The
// request is a plain value: it crosses from this process to the sandboxed child as bytes, and
// the result comes back the same way; no code and no pointer into this process goes with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_report.h"
#include "platform/tree_reading.h"
#include "platform/tree_writing.h"

namespace winqor {

enum class ExtractionMode : uint8_t {
    kCheck,     // decode and check every record, write nothing
    kList,      // the same, listing "D folder" and "F path size" lines
    kListJson,  // the same, listing as one JSON document
    kExtract,   // check every record, then write them below the root
};

// Where the listing of kList and kListJson goes, in the calling process.
enum class ListingOutput : uint8_t {
    kNowhere,
    kStandardOutput,  // as it comes, in pieces
};

struct ExtractionRequest {
    ExtractionMode mode = ExtractionMode::kCheck;
    // The archive's stored form: its 256-byte header, then the payload.
    std::vector<uint8_t> archive;
    // The digest of the accepted password of an encrypted archive.
    std::optional<std::array<uint8_t, 16>> passwordDigest;
    // kExtract: the root folder, already entered by the caller, and its path for messages.
    DirectoryHandle root = kInvalidDirectory;
    std::u16string rootPath;
    RootTrust trust = RootTrust::kChosen;  // how far the folders below the root are trusted
    std::optional<uint64_t> freeBytes;     // the root's free space, when it is known
    // A file at the top of the root (Setup.exe) whose identity the result brings back when this
    // run wrote it; every file is then written for its owner alone. Empty: none.
    std::u16string watch;
    ListingOutput listing = ListingOutput::kNowhere;
    // How many progress lines the decoder writes to standard error, 0 (none) to 4.
    uint8_t decoderVerbosity = 4;
};

enum class ExtractionOutcome : uint8_t {
    kComplete,        // every record checked (and, for kExtract, written)
    kWritingStopped,  // kExtract: the records were sound, writing failed part way; what was
                      // written stays
    kRefused,         // decoded, but a record breaks the rules: nothing was written
    kDamaged,         // the archive could not be loaded or decoded: nothing was written
    kSandboxFailed,   // no sandboxed process could be started, or it broke the rules
};

struct ExtractionResult {
    ExtractionOutcome outcome = ExtractionOutcome::kSandboxFailed;
    Failure failure = Failure::kNone;  // why, when the outcome is not kComplete (or a late failure)
    std::u16string failureWhere;       // the path or record name it concerns; may be empty
    std::string summary;               // "N folders, N files, N bytes", once the check passed
    std::optional<FileId> watched;     // the watched file's identity, when this run wrote it
    bool listingLost = false;          // part of the listing could not be written
};

// The result's failure as an ExtractionReport keeps it.
void RecordResultFailure(const ExtractionResult& result, ExtractionReport& report);

// The request's wire form, without the archive's bytes and the root (which travel as
// descriptors). Decode is false when the bytes are not a request this program wrote.
std::string EncodeRequest(const ExtractionRequest& request);
bool DecodeRequest(std::string_view bytes, ExtractionRequest& request);

// The sandboxed child's closing message: the result and the folder the walk entered last.
std::string EncodeOutcome(const ExtractionResult& result,
                          const std::vector<std::u16string>& lastFolder);
// Distrusts every field: a failure this program does not know, a length past the bytes, a
// folder component that is not a plain name, an identity without a watched file: false.
bool DecodeOutcome(std::string_view bytes, ExtractionResult& result,
                   std::vector<std::u16string>& lastFolder);

}  // namespace winqor
