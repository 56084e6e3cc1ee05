// aze list, aze test and aze extract: everything that reads an archive.
#include <iostream>
#include <memory>
#include <string>

#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "engine/record_listing.h"
#include "format/archive_header.h"
#include "platform/text.h"
#include "protection/password.h"
#include "tools/aze/commands.h"
#include "tools/aze/json_listing.h"

namespace winqor::aze {
namespace {

std::string Narrow(std::u16string_view text) {
    return Utf16ToUtf8Lossy(text);
}

bool IsNotAnArchive(Failure failure) {
    return failure == Failure::kHeaderRejected || failure == Failure::kShortHeader;
}

// An archive file, or else the archive inside a self-extracting program. Null, with the
// failure printed, when neither loads.
std::unique_ptr<ArchiveExtractor> LoadArchive(const std::string& archive) {
    std::u16string path;
    if (!Utf8ToUtf16(archive, path)) {
        PrintError("the archive's name is not valid UTF-8", archive);
        return nullptr;
    }
    auto extractor = std::make_unique<ArchiveExtractor>();
    const int loaded = extractor->LoadFromFile(path.c_str());
    extractor->CloseArchiveFile();
    if (loaded != 0) return extractor;
    if (IsNotAnArchive(extractor->failure())) {
        auto embedded = std::make_unique<ArchiveExtractor>();
        const int found = LoadEmbeddedArchive(archive, *embedded);
        if (found == 1) return embedded;
        if (found < 0) return nullptr;
    }
    PrintFailure(*extractor, archive);
    return nullptr;
}

// Loads, accepts the password of an encrypted archive, and decodes the record stream.
std::unique_ptr<ArchiveExtractor> LoadAndDecode(const ReadOptions& options) {
    auto extractor = LoadArchive(options.archive);
    if (!extractor) return nullptr;
    const ArchiveHeader& header = *extractor->header();
    if (IsEncrypted(header)) {
        if (!ObtainPassword(options.passwordFile, header)) return nullptr;
        extractor->SetPasswordDigest(g_passwordDigest);
    }
    if (extractor->DecodePayload() == 0) {
        PrintFailure(*extractor, options.archive);
        return nullptr;
    }
    return extractor;
}

// Lists on standard output.
ListingSink PrintingSink() {
    return ListingSink([](std::string_view line) { std::cout << line; });
}

// Walks the decoded stream through sink; prints the failure and where on a malformed one.
bool WalkChecked(ArchiveExtractor& extractor, RecordSink& sink, const std::string& archive) {
    extractor.SetSink(&sink);
    const int walked = extractor.OutputArchive();
    extractor.SetSink(nullptr);
    extractor.RewindOutput();
    if (walked == 0) PrintFailure(extractor, archive);
    return walked != 0;
}

// ARCHIVE without its extension; ARCHIVE.d when it has none, never the archive itself: the
// same folder a self-extracting program uses. Empty when it does not fit a path.
std::string DefaultDestination(const std::string& archive) {
    std::u16string path;
    char16_t folder[kMaxPath];
    if (!Utf8ToUtf16(archive, path) || !OutputFolderFor(path.c_str(), folder)) return {};
    return Narrow(folder);
}

}  // namespace

int RunList(const ReadOptions& options) {
    auto extractor = LoadAndDecode(options);
    if (!extractor) return kExitBadArchive;
    ListingSink text = PrintingSink();
    JsonListingSink json(std::cout);
    RecordSink& sink = options.json ? static_cast<RecordSink&>(json) : text;
    return WalkChecked(*extractor, sink, options.archive) ? kExitSuccess : kExitBadArchive;
}

int RunTest(const ReadOptions& options) {
    auto extractor = LoadAndDecode(options);
    if (!extractor) return kExitBadArchive;
    ListingSink sink;
    if (!WalkChecked(*extractor, sink, options.archive)) return kExitBadArchive;
    std::cout << EscapeForDisplay(options.archive) << ": OK (" << sink.Summary() << ")\n";
    return kExitSuccess;
}

int RunExtract(const ReadOptions& options) {
    auto extractor = LoadAndDecode(options);
    if (!extractor) return kExitBadArchive;
    // A damaged stream is found before anything is written.
    ListingSink sink;
    if (!WalkChecked(*extractor, sink, options.archive)) return kExitBadArchive;
    const std::string destination =
        options.destination.empty() ? DefaultDestination(options.archive) : options.destination;
    if (destination.empty()) {
        PrintError("path too long for a destination folder: give -C DEST", options.archive);
        return kExitUsage;
    }
    std::u16string root;
    if (!Utf8ToUtf16(destination, root) || extractor->EnterRoot(root.c_str()) == 0) {
        PrintError("cannot create or enter the destination folder", destination);
        return kExitWriteFailed;
    }
    // From here on this process can change nothing outside the destination.
    extractor->ConfineToRoot();
    if (extractor->OutputArchive() == 0) {
        PrintFailure(*extractor, destination);
        return kExitWriteFailed;
    }
    std::cout << "extracted " << sink.Summary() << " into " << EscapeForDisplay(destination)
              << '\n';
    return kExitSuccess;
}

}  // namespace winqor::aze
