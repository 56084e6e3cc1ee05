// aze list, aze test and aze extract: everything that reads an archive.
#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "engine/record_listing.h"
#include "format/archive_header.h"
#include "platform/tree_writing.h"
#include "protection/password.h"
#include "tools/aze/commands.h"
#include "tools/aze/json_listing.h"

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
    if (IsNotAnArchive(extractor->report.failure())) {
        auto embedded = std::make_unique<ArchiveExtractor>();
        const EmbeddedArchive found = LoadEmbeddedArchive(archive, *embedded, reason);
        if (found == EmbeddedArchive::kLoaded) return embedded;
        if (found == EmbeddedArchive::kDamaged) return nullptr;
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
    const ArchiveHeader& header = *extractor->archive.header();
    if (IsEncrypted(header)) {
        if (!ObtainPassword(options.passwordFile, header, reason)) return nullptr;
        extractor->SetPasswordDigest(g_passwordDigest);
    }
    return extractor;
}

// The sandbox's output reaches standard output here as it comes.
void PrintOutput(std::string_view text) {
    std::cout << text;
}

// A closing line from the sandbox, printed only once its outcome holds; no more than a line
// is kept, whatever the child sends.
class ClosingLine {
  public:
    std::function<void(std::string_view)> Receiver() {
        return [this](std::string_view text) {
            line_.append(text.substr(0, std::min(text.size(), kMaxBytes - line_.size())));
        };
    }
    void Print() const { std::cout << line_; }

  private:
    static constexpr size_t kMaxBytes = 4096;
    std::string line_;
};

// In the sandbox, standard output is /dev/null: what is printed there reaches the parent
// through the extractor instead, in pieces.
class SandboxOutput : public std::streambuf {
  public:
    explicit SandboxOutput(const ArchiveExtractor& extractor) : extractor_(extractor) {}
    ~SandboxOutput() override { sync(); }

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) Take(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        text_.append(text, static_cast<size_t>(count));
        if (text_.size() >= kPieceBytes) sync();
        return count;
    }
    int sync() override {
        extractor_.sandbox.SendOutput(text_);
        text_.clear();
        return 0;
    }

  private:
    void Take(char c) {
        text_ += c;
        if (text_.size() >= kPieceBytes) sync();
    }
    static constexpr size_t kPieceBytes = 32 * 1024;
    const ArchiveExtractor& extractor_;
    std::string text_;
};

// In the sandbox: decodes the payload and walks the records through sink, which checks them.
bool DecodeAndWalk(ArchiveExtractor& extractor, RecordSink& sink) {
    if (extractor.DecodePayload() == 0) return false;
    extractor.tree.SetSink(&sink);
    const int walked = extractor.OutputArchive();
    extractor.tree.SetSink(nullptr);
    extractor.archive.RewindOutput();
    return walked != 0;
}

// In the sandbox: decodes and checks every record without printing; summary receives the
// counts.
bool DecodeAndCheck(ArchiveExtractor& extractor, std::string& summary) {
    ListingSink sink;
    if (!DecodeAndWalk(extractor, sink)) return false;
    summary = sink.Summary();
    return true;
}

// What the sandboxed extraction came to: every file was written, the writing stopped part
// way, or the archive is damaged (nothing was written). The confined run's result: 0, as for a
// sandbox that failed, is a failure.
enum Extraction : int { kExtracted = 2, kWritingStopped = 1, kDamaged = 0 };

// The destination folder, made unless it exists; created says whether this run made it.
bool EnterDestination(ArchiveExtractor& extractor, const std::string& destination,
                      std::u16string& root, bool& created) {
    if (!Utf8ToUtf16(destination, root)) return false;
    created = MakeDirectory(root.c_str()) == MakeDirectoryResult::kCreated;
    const bool entered = extractor.EnterRoot(root.c_str()) != 0;
    // Removed, if need be, by the path the folder was entered at: it is current from here on.
    if (entered) root = extractor.tree.folder();
    if (!entered && created) RemoveEmptyFolder(root.c_str());
    return entered;
}

// The extractor's failure as the command's: a sandbox that could not start or broke its
// rules has its own status.
ExitStatus Failed(const ArchiveExtractor& extractor, const std::string& where,
                  std::string& reason) {
    reason = FailureReason(extractor, where);
    const Failure failure = extractor.report.failure();
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
    const auto list = [&] {
        SandboxOutput piped(*extractor);
        std::ostream out(&piped);
        ListingSink text([&out](std::string_view line) { out << line; });
        JsonListingSink json(out);
        RecordSink& sink = options.json ? static_cast<RecordSink&>(json) : text;
        return DecodeAndWalk(*extractor, sink) ? 1 : 0;
    };
    if (extractor->sandbox.RunConfined(list, PrintOutput) != 0) return ExitStatus::kSuccess;
    return Failed(*extractor, options.archive, reason);
}

ExitStatus RunTest(const ReadOptions& options, std::string& reason) {
    if (NamesAFolder(options.archive, reason)) return ExitStatus::kUsage;
    auto extractor = LoadWithPassword(options, reason);
    if (!extractor) return ExitStatus::kBadArchive;
    const auto test = [&] {
        std::string summary;
        if (!DecodeAndCheck(*extractor, summary)) return 0;
        extractor->sandbox.SendOutput(EscapeForDisplay(options.archive) + ": OK (" + summary +
                                      ")\n");
        return 1;
    };
    ClosingLine closing;
    if (extractor->sandbox.RunConfined(test, closing.Receiver()) != 0) {
        closing.Print();
        return ExitStatus::kSuccess;
    }
    return Failed(*extractor, options.archive, reason);
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
    const auto extract = [&] {
        // A damaged stream is found before anything is written.
        std::string summary;
        if (!DecodeAndCheck(*extractor, summary)) return kDamaged;
        if (extractor->OutputArchive() == 0) return kWritingStopped;
        extractor->sandbox.SendOutput("extracted " + summary + " into " +
                                      EscapeForDisplay(destination) + '\n');
        return kExtracted;
    };
    ClosingLine closing;
    const int extracted = extractor->sandbox.RunConfined(extract, closing.Receiver());
    extractor->tree.CloseFolders();
    if (extracted == kExtracted) {
        closing.Print();
        return ExitStatus::kSuccess;
    }
    if (extracted == kWritingStopped) {
        reason = FailureReason(*extractor, destination);
        // A tree refused for want of room wrote nothing: a folder made for it goes again.
        if (created && extractor->report.failure() == Failure::kNoRoom) {
            RemoveEmptyFolder(root.c_str());
        }
        return ExitStatus::kWriteFailed;
    }
    if (created) RemoveEmptyFolder(root.c_str());
    return Failed(*extractor, options.archive, reason);
}

}  // namespace winqor::aze
