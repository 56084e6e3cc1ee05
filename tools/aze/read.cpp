// aze list, aze test and aze extract: everything that reads an archive.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/embedded_archive.h"
#include "engine/extract_embedded.h"
#include "format/archive_header.h"
#include "platform/tree_writing.h"
#include "protection/password.h"
#include "tools/aze/commands.h"

namespace winqor::aze {
namespace {

bool IsNotAnArchive(Failure failure) {
    return failure == Failure::kHeaderRejected || failure == Failure::kShortHeader;
}

// An archive file, or else the archive inside a self-extracting program. Null, with reason
// set, when neither loads.
std::unique_ptr<ArchiveExtractor> LoadArchive(const std::string& archive, std::string& reason) {
    std::u16string path;
    if (!Utf8ToUtf16(archive, path)) {
        reason = Concerning("the archive's name is not valid UTF-8", archive);
        return nullptr;
    }
    auto extractor = std::make_unique<ArchiveExtractor>();
    const int loaded = extractor->LoadFromFile(path.c_str());
    extractor->CloseArchiveFile();
    if (loaded != 0) return extractor;
    if (IsNotAnArchive(extractor->failure())) {
        auto embedded = std::make_unique<ArchiveExtractor>();
        std::string fileReason;
        const EmbeddedArchive found = LoadEmbeddedArchive(archive, *embedded, fileReason);
        if (found == EmbeddedArchive::kLoaded) return embedded;
        if (found == EmbeddedArchive::kDamaged) {
            reason = DamagedProgramReason(fileReason, *embedded, archive);
            return nullptr;
        }
    }
    reason = FailureReason(*extractor, archive);
    return nullptr;
}

// Loads the archive and accepts the password of an encrypted one; the payload is not touched
// here, only in the sandbox.
std::unique_ptr<ArchiveExtractor> LoadWithPassword(const ReadOptions& options,
                                                   std::string& reason) {
    auto extractor = LoadArchive(options.archive, reason);
    if (!extractor) return nullptr;
    const ArchiveHeader& header = *extractor->header();
    if (IsEncrypted(header)) {
        uint8_t digest[16];
        if (!ObtainPassword(options.passwordFile, header, digest, reason)) return nullptr;
        extractor->SetPasswordDigest(digest);
    }
    return extractor;
}

// The destination folder, made unless it exists; created says whether this run made it.
bool EnterDestination(ArchiveExtractor& extractor, const std::string& destination,
                      std::u16string& root, bool& created) {
    if (!Utf8ToUtf16(destination, root)) return false;
    created = MakeDirectory(root.c_str()) == MakeDirectoryResult::kCreated;
    const bool entered = extractor.EnterRoot(root.c_str()) != 0;
    // Removed, if need be, by the path the folder was entered at: it is current from here on.
    if (entered) root = extractor.folder();
    if (!entered && created) RemoveEmptyFolder(root.c_str());
    return entered;
}

// The extractor's failure as the command's: a sandbox that could not start or broke its
// rules has its own status.
ExitStatus Failed(const ArchiveExtractor& extractor, const std::string& where,
                  std::string& reason) {
    reason = FailureReason(extractor, where);
    const Failure failure = extractor.failure();
    return failure == Failure::kSandboxUnavailable || failure == Failure::kExtractionEnded ||
                   failure == Failure::kRootChanged
               ? ExitStatus::kSandbox
               : ExitStatus::kBadArchive;
}

// A folder named as the archive is a mistake in the command, not a damaged archive.
bool NamesAFolder(const std::string& archive, std::string& reason) {
    if (!IsFolder(archive)) return false;
    reason = Concerning("is a folder, not an archive", archive);
    return true;
}

}  // namespace

ExitStatus RunList(const ReadOptions& options, std::string& reason) {
    if (NamesAFolder(options.archive, reason)) return ExitStatus::kUsage;
    auto extractor = LoadWithPassword(options, reason);
    if (!extractor) return ExitStatus::kBadArchive;
    ExtractionRequest request =
        extractor->Request(options.json ? ExtractionMode::kListJson : ExtractionMode::kList);
    request.listing = ListingOutput::kStandardOutput;
    // The listing is written to standard output as it comes, beside what is buffered here.
    std::cout.flush();
    const ExtractionResult result = extractor->Run(request);
    if (result.listingLost) {
        reason = "cannot write to standard output";
        return ExitStatus::kBadArchive;
    }
    if (result.outcome == ExtractionOutcome::kComplete) return ExitStatus::kSuccess;
    return Failed(*extractor, options.archive, reason);
}

ExitStatus RunTest(const ReadOptions& options, std::string& reason) {
    if (NamesAFolder(options.archive, reason)) return ExitStatus::kUsage;
    auto extractor = LoadWithPassword(options, reason);
    if (!extractor) return ExitStatus::kBadArchive;
    const ExtractionResult result = extractor->Run(extractor->Request(ExtractionMode::kCheck));
    if (result.outcome != ExtractionOutcome::kComplete) {
        return Failed(*extractor, options.archive, reason);
    }
    std::cout << EscapeForDisplay(options.archive) << ": OK (" << result.summary << ")\n";
    return ExitStatus::kSuccess;
}

ExitStatus RunExtract(const ReadOptions& options, std::string& reason) {
    if (NamesAFolder(options.archive, reason)) return ExitStatus::kUsage;
    auto extractor = LoadWithPassword(options, reason);
    if (!extractor) return ExitStatus::kBadArchive;
    const std::string destination =
        options.destination.empty() ? DefaultOutputFolder(options.archive) : options.destination;
    if (destination.empty()) {
        reason =
            Concerning("path too long for a destination folder: give -C DEST", options.archive);
        return ExitStatus::kUsage;
    }
    // The sandbox can write below the destination only, so the folder is made first; when the
    // archive turns out damaged, a folder this run made is removed again if it stayed empty.
    std::u16string root;
    bool created = false;
    if (!EnterDestination(*extractor, destination, root, created)) {
        reason = Concerning("cannot create or enter the destination folder", destination);
        return ExitStatus::kWriteFailed;
    }
    // A damaged stream, or a name that would be refused, is found before anything is written.
    const ExtractionResult result = extractor->Run(extractor->Request(ExtractionMode::kExtract));
    extractor->CloseFolders();
    switch (result.outcome) {
        case ExtractionOutcome::kComplete:
            std::cout << "extracted " << result.summary << " into " << EscapeForDisplay(destination)
                      << '\n';
            return ExitStatus::kSuccess;
        case ExtractionOutcome::kWritingStopped:
            reason = FailureReason(*extractor, destination);
            // A tree refused for want of room wrote nothing: a folder made for it goes again.
            if (created && extractor->failure() == Failure::kNoRoom) {
                RemoveEmptyFolder(root.c_str());
            }
            return ExitStatus::kWriteFailed;
        default:
            if (created) RemoveEmptyFolder(root.c_str());
            return Failed(*extractor, options.archive, reason);
    }
}

}  // namespace winqor::aze
