#include "app/self_extract.h"

#include <memory>
#include <new>
#include <utility>

#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "format/archive_header.h"
#include "platform/debug.h"
#include "platform/terminal.h"
#include "base/text.h"
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
    report.complete = result != 0 && extractor.report.failure() == Failure::kNone;
    report.setupStarted = extractor.report.SetupExitStatus(report.setupExitStatus);
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
    const EmbeddedImage image = Prepare(module);
    // The placeholder, and any image too short for a header, is no archive.
    if (image.bytes == nullptr || image.size < kHeaderBytes) return 0;
    // Pointed before the tests: the password dialog reads the header through it.
    g_currentHeader = HeaderAt(image.bytes);
    if (!HasMagic(*g_currentHeader) || !IsEmbedded(*g_currentHeader)) return 0;
    if (IsEncrypted(*g_currentHeader) && !(askPassword && askPassword())) return -1;
    std::unique_ptr<ArchiveExtractor> extractor(new (std::nothrow) ArchiveExtractor);
    if (!extractor) return -1;
    // The password asked above is this run's: the extractor keeps its own copy of it.
    if (IsEncrypted(*g_currentHeader)) extractor->SetPasswordDigest(g_passwordDigest);
    // The run has taken place whatever the extraction's own result.
    const RunReport extracted = Extract(*extractor, image, programPath);
    if (report != nullptr) *report = extracted;
    return 1;
}

int RunExitStatus(int result, const RunReport& report) {
    if (result == 1 && report.setupStarted) return static_cast<int>(report.setupExitStatus);
    return result == 1 && report.complete ? 0 : 1;
}

bool AskPasswordOnTerminal(const SecretLineReader& readLine) {
    std::string line;
    while (readLine(line)) {
        std::u16string password;
        if (Utf8ToUtf16(line, password) && AcceptPassword(password.c_str(), g_currentHeader)) {
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
