#include "app/self_extract.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "format/archive_header.h"
#include "platform/debug.h"
#include "platform/terminal.h"
#include "protection/password.h"

namespace winqor {
namespace {

constexpr char kPasswordPrompt[] = "Password: ";

RunReport Extract(ArchiveExtractor& extractor, const EmbeddedImage& image,
                  const char16_t* programPath) {
    const int result = programPath == nullptr
                           ? extractor.ExtractEmbedded(image.bytes, image.size)
                           : ExtractEmbeddedBeside(extractor, programPath, image.bytes, image.size);
    RunReport report;
    report.complete = result != 0 && extractor.failure() == Failure::kNone;
    report.setupStarted = extractor.SetupExitStatus(report.setupExitStatus);
    return report;
}

}  // namespace

EmbeddedImage Prepare(ResourceFile* module) {
    OutputDebugString(u"CWinQORDlg::Prepare\n");
    const ResourceHandle found = FindResource(module, kSetupArchiveType, kSetupArchiveId);
    if (found == nullptr) {
        OutputDebugString(u"Can not found SETUP_ARCHIVE resource\n");
        return {};
    }
    OutputDebugString(u"found SETUP_ARCHIVE resource\n");
    const void* loaded = LoadResource(module, found);
    if (loaded == nullptr) {
        OutputDebugString(u"LoadResource failed\n");
        return {};
    }
    const uint8_t* bytes = LockResource(loaded);
    return {bytes, bytes == nullptr ? 0 : SizeofResource(found)};
}

int RunEmbeddedArchive(const PasswordAsker& askPassword, RunReport* report) {
    return RunEmbeddedArchive(askPassword, nullptr, nullptr, report);
}

int RunEmbeddedArchive(const PasswordAsker& askPassword, ResourceFile* module,
                       const char16_t* programPath, RunReport* report) {
    if (report != nullptr) *report = {};
    SelfExtractStart start;
    if (!start.Find(module)) return 0;
    if (start.encrypted() && !start.AskPassword(askPassword)) return -1;
    std::unique_ptr<ArchiveExtractor> extractor = start.MakeExtractor();
    if (!extractor) return -1;
    // The run has taken place whatever the extraction's own result.
    const RunReport extracted = Extract(*extractor, start.image(), programPath);
    if (report != nullptr) *report = extracted;
    return 1;
}

bool SelfExtractStart::Find(ResourceFile* module) {
    image_ = Prepare(module);
    // The placeholder, and any image too short for a header, is no archive.
    if (image_.bytes == nullptr || image_.size < kHeaderBytes) return false;
    std::memcpy(header_.image, image_.bytes, kHeaderBytes);
    // Pointed before the tests: the password dialog reads the header through it, as long as
    // the program's image stays loaded (which outlives this start).
    g_currentHeader = HeaderAt(image_.bytes);
    return HasMagic(header_) && IsEmbedded(header_);
}

bool SelfExtractStart::encrypted() const {
    return IsEncrypted(header_);
}

PasswordVerdict SelfExtractStart::TakePassword(const std::string& utf8) {
    std::u16string password;
    if (!Utf8ToUtf16(utf8, password)) return PasswordVerdict::kWrong;
    const PasswordVerdict verdict = CheckPassword(password, header_, digest_);
    hasDigest_ = verdict == PasswordVerdict::kAccepted;
    return verdict;
}

bool SelfExtractStart::AskPassword(const PasswordAsker& ask) {
    hasDigest_ = ask && ask();
    if (hasDigest_) std::memcpy(digest_, g_passwordDigest, sizeof digest_);
    return hasDigest_;
}

std::unique_ptr<ArchiveExtractor> SelfExtractStart::MakeExtractor() const {
    std::unique_ptr<ArchiveExtractor> extractor(new (std::nothrow) ArchiveExtractor);
    // The password asked is this run's: the extractor keeps its own copy of it.
    if (extractor && encrypted() && hasDigest_) extractor->SetPasswordDigest(digest_);
    return extractor;
}

int RunExitStatus(int result, const RunReport& report) {
    if (result == 1 && report.setupStarted) return static_cast<int>(report.setupExitStatus);
    return result == 1 && report.complete ? 0 : 1;
}

bool AskPasswordOnTerminal(const SecretLineReader& readLine) {
    std::string line;
    while (g_currentHeader != nullptr && readLine(line)) {
        // The same check as a password file's: longer than 15 characters is refused, not cut.
        std::u16string password;
        if (Utf8ToUtf16(line, password) &&
            CheckPassword(password, *g_currentHeader, g_passwordDigest) ==
                PasswordVerdict::kAccepted) {
            return true;
        }
    }
    return false;
}

bool AskPasswordOnTerminal() {
    return AskPasswordOnTerminal(
        [](std::string& line) { return ReadPasswordFromTerminal(kPasswordPrompt, line); });
}

PasswordAsker ChoosePasswordAsker(PasswordRoutes routes) {
    return [routes = std::move(routes)] {
        if (routes.openDisplay && routes.openDisplay()) return routes.dialog && routes.dialog();
        if (routes.haveTerminal && routes.haveTerminal()) {
            return routes.terminal && routes.terminal();
        }
        return false;
    };
}

PasswordAsker SelfExtractPasswordAsker(std::function<bool()> openDisplay, PasswordAsker dialog) {
    return ChoosePasswordAsker({std::move(openDisplay), std::move(dialog), StandardInputIsTerminal,
                                [] { return AskPasswordOnTerminal(); }});
}

}  // namespace winqor
