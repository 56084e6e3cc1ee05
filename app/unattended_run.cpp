#include "app/unattended_run.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "app/licence_gate.h"
#include "base/text.h"
#include "engine/archive_info.h"
#include "engine/extract_embedded.h"
#include "engine/password_file.h"
#include "format/archive_header.h"
#include "platform/debug.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/temporary_folder.h"
#include "platform/terminal.h"
#include "protection/password.h"

namespace winqor {
namespace {

constexpr char kVersion[] = WINQOR_VERSION;

// The debug channel's lines, also appended to the --log file once it is known. The lines sent
// before (finding the archive) are kept until then, so that the log holds the whole trace.
class TraceLog {
  public:
    TraceLog() {
        previous_ = SetDebugSink([this](std::string_view text) {
            if (previous_) previous_(text);
            Keep(text);
        });
    }
    ~TraceLog() {
        SetDebugSink(std::move(previous_));
        CloseFile(file_);
    }
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Opens the log, starts it with firstLine and the lines kept so far; false when it cannot
    // be opened or written.
    bool Open(const std::string& path, const std::string& firstLine) {
        std::u16string wide;
        if (Utf8ToUtf16(path, wide)) file_ = OpenForAppend(wide.c_str());
        const std::string start = firstLine + std::exchange(kept_, {});
        return Write(start);
    }
    // No log: nothing more is kept.
    void Drop() {
        keeping_ = false;
        kept_.clear();
    }

  private:
    void Keep(std::string_view text) {
        if (file_ != kInvalidHandle) {
            Write(text);
        } else if (keeping_) {
            kept_ += text;
        }
    }
    bool Write(std::string_view text) const {
        const auto size = static_cast<uint32_t>(text.size());
        return file_ != kInvalidHandle && WriteToFile(file_, text.data(), size) == size;
    }

    DebugSink previous_;
    FileHandle file_ = kInvalidHandle;
    bool keeping_ = true;
    std::string kept_;
};

// Says how the run ends on the debug channel (and so in the log).
int Finish(int status, std::string_view why) {
    ForwardDebugText("winqor: exit status " + std::to_string(status) + ": " + std::string(why) +
                     "\n");
    return status;
}

// The arguments as the log's first line shows them: quoted where they hold spaces or quotes,
// escaped where they hold control characters.
std::string LogFirstLine(const std::vector<std::string>& arguments) {
    char16_t program[kMaxPath];
    std::string line = "winqor ";
    line += kVersion;
    line += ':';
    if (GetModuleFileName(program, kMaxPath) != 0) {
        line += ' ';
        line += Utf16ToUtf8Lossy(program);
    }
    for (const std::string& argument : arguments) {
        std::u16string wide;
        Utf8ToUtf16(argument, wide);
        line += ' ';
        line += EscapeForDisplay(Utf16ToUtf8Lossy(QuoteWindowsArgument(wide)));
    }
    return line + "\n";
}

// The program's file name, for the help's usage line.
std::string ProgramName() {
    char16_t program[kMaxPath];
    if (GetModuleFileName(program, kMaxPath) == 0) return "PROGRAM";
    const std::u16string_view path(program);
    const size_t slash = path.find_last_of(u"/\\");
    return Utf16ToUtf8Lossy(slash == path.npos ? path : path.substr(slash + 1));
}

void ShowText(const SelfExtractHost& host, const std::string& text) {
    if (!WriteToConsole(ConsoleStream::kOutput, text) && host.showText) host.showText(text);
}

int UsageError(const SelfExtractHost& host, const std::string& why) {
    if (!WriteToConsole(ConsoleStream::kError, "winqor: " + why + " (see --help)\n") &&
        host.showText) {
        host.showText(why);
    }
    return Finish(kExitUsage, "usage error: " + why);
}

// The password of an encrypted archive: from the file, else asked (never under --quiet).
// kExitComplete when start holds the accepted one.
int ObtainPassword(SelfExtractStart& start, const SelfExtractOptions& options,
                   const SelfExtractHost& host) {
    if (!options.passwordFile.empty()) {
        std::string line;
        const PasswordFileRead read = ReadPasswordFile(options.passwordFile, line);
        if (read != PasswordFileRead::kRead) {
            return Finish(kExitUsage, DescribePasswordFileRead(read) + ": " +
                                          EscapeForDisplay(options.passwordFile));
        }
        const PasswordVerdict verdict = start.TakePassword(line);
        if (verdict == PasswordVerdict::kTooLong) {
            return Finish(kExitDamaged, "wrong password: longer than 15 characters");
        }
        if (verdict != PasswordVerdict::kAccepted) return Finish(kExitDamaged, "wrong password");
        return kExitComplete;
    }
    if (options.quiet) {
        return Finish(kExitNeedsPassword,
                      "the archive is encrypted: --quiet needs --password-file");
    }
    if (!start.AskPassword(SelfExtractPasswordAsker(host.openDisplay, host.dialog))) {
        return Finish(kExitNeedsPassword, "no password was given");
    }
    return kExitComplete;
}

std::string Describe(const ArchiveExtractor& extractor) {
    std::string why = DescribeFailure(extractor.failure());
    if (!extractor.failureWhere().empty()) {
        why += ": " + EscapeForDisplay(Utf16ToUtf8Lossy(extractor.failureWhere()));
    }
    return why;
}

// --list and --check: decoding and the whole walk, nothing written, in the sandboxed child;
// the listing comes back as it goes, the summary once the walk holds.
int ListOrCheck(ArchiveExtractor& extractor, const EmbeddedImage& image, bool list) {
    ExtractionRequest request = extractor.Request(
        list ? ExtractionMode::kList : ExtractionMode::kCheck, image.bytes, image.size);
    if (list) request.listing = ListingOutput::kStandardOutput;
    const ExtractionResult result = extractor.Run(request);
    if (result.outcome != ExtractionOutcome::kComplete) {
        return Finish(ExitStatusForFailure(extractor.failure()), Describe(extractor));
    }
    if (!list) WriteToConsole(ConsoleStream::kOutput, "OK (" + result.summary + ")\n");
    return Finish(kExitComplete, list ? "listed" : "checked: " + result.summary);
}

// A reason for the debug channel, which shows it escaped.
std::u16string ReasonForDebug(const std::string& reason) {
    std::u16string wide;
    return Utf8ToUtf16(reason, wide) ? wide : u"(a path that is not UTF-8)";
}

// The folder to unpack into: --target, a new private one for --temp, else beside the program.
bool OutputFolder(const SelfExtractOptions& options, std::u16string& folder) {
    if (!options.target.empty()) return Utf8ToUtf16(options.target, folder);
    if (options.temporary) {
        std::string reason;
        if (!MakePrivateTemporaryFolder(folder, reason)) {
            DebugPrint(u"winqor: no temporary folder: %s\n", ReasonForDebug(reason).c_str());
            return false;
        }
        DebugPrint(u"winqor: temporary folder %s\n", folder.c_str());
        // What Setup.exe leaves running may still use the folder.
        AdoptDescendants();
        return true;
    }
    char16_t program[kMaxPath];
    char16_t beside[kMaxPath];
    if (GetModuleFileName(program, kMaxPath) == 0 || !OutputFolderFor(program, beside)) {
        return false;
    }
    folder = beside;
    return true;
}

// Once Setup.exe and everything it started have ended. A folder that stays is said, but does
// not change the run's status: the installation itself is done.
void RemoveTemporaryFolder(const std::u16string& folder) {
    WaitForDescendants();
    std::string reason;
    if (!RemoveTree(folder, reason)) {
        DebugPrint(u"winqor: cannot remove %s: %s\n", folder.c_str(),
                   ReasonForDebug(reason).c_str());
    }
}

// The outcome of an extraction that ran: Setup.exe's status, else complete, else why not.
int ExtractionStatus(const ArchiveExtractor& extractor, bool setupWanted) {
    uint32_t setupStatus = 0;
    if (extractor.SetupExitStatus(setupStatus)) {
        return Finish(static_cast<int>(setupStatus), "Setup.exe's own status");
    }
    if (extractor.failure() != Failure::kNone) {
        return Finish(ExitStatusForFailure(extractor.failure()), Describe(extractor));
    }
    if (setupWanted) return Finish(kExitSetupNotStarted, "Setup.exe could not be started");
    return Finish(kExitComplete, "complete");
}

int Extract(ArchiveExtractor& extractor, const SelfExtractStart& start,
            const SelfExtractOptions& options) {
    std::u16string folder;
    if (!OutputFolder(options, folder)) {
        return Finish(kExitWriteFailed, "no folder to unpack into can be named or made");
    }
    SetupLaunch setup;
    setup.start = options.mode == RunMode::kInstall;
    for (const std::string& argument : options.setupArguments) {
        std::u16string wide;
        if (!Utf8ToUtf16(argument, wide)) {
            return Finish(kExitUsage, "an argument for Setup.exe is not valid UTF-8");
        }
        setup.arguments.push_back(std::move(wide));
    }
    ExtractEmbeddedInto(extractor, folder.c_str(), start.image().bytes, start.image().size, setup);
    if (options.temporary) RemoveTemporaryFolder(folder);
    return ExtractionStatus(extractor, setup.start && RunsSetup(start.header()));
}

LicenceRoutes LicenceRoutesFor(const SelfExtractHost& host) {
    return {host.openDisplay, host.licenceDialog, StandardInputIsTerminal,
            [](const std::string& text) { return AcceptLicenceOnTerminal(text); }};
}

// --info: what the program carries, written nowhere but standard output; the records are
// counted in the sandbox when the archive is not encrypted.
int ShowInfo(ArchiveExtractor& extractor, const SelfExtractStart& start,
             const SelfExtractHost& host) {
    const EmbeddedImage& image = start.image();
    ArchiveInfo info;
    info.kind = "self-extracting program";
    TakeHeader(start.header(), info);
    std::string licence, why;
    info.hasLicence = FindLicence(nullptr, licence, why) == LicenceLookup::kFound;
    info.licenceBytes = licence.size();
    SelfExtractOptions beside;
    std::u16string folder;
    if (OutputFolder(beside, folder)) info.outputFolder = Utf16ToUtf8Lossy(folder);
    if (!info.encrypted &&
        !CountRecords(extractor, extractor.Request(ExtractionMode::kCheck, image.bytes, image.size),
                      info)) {
        return Finish(ExitStatusForFailure(extractor.failure()), Describe(extractor));
    }
    ShowText(host, DescribeInfo(info));
    return Finish(kExitComplete, "information shown");
}

bool WritesTree(RunMode mode) {
    return mode == RunMode::kInstall || mode == RunMode::kExtractOnly;
}

// Everything after the switches were read and the log opened.
int RunWithOptions(SelfExtractStart& start, const SelfExtractOptions& options,
                   const SelfExtractHost& host) {
    // Before the password: nothing of the archive is touched until its licence is accepted.
    std::string refusal;
    if (WritesTree(options.mode) &&
        !LicenceAllowsRun(LicenceRoutesFor(host), options.acceptLicence, options.quiet, refusal)) {
        return Finish(kExitLicenceNotAccepted, refusal);
    }
    if (options.mode == RunMode::kInfo) {
        std::unique_ptr<ArchiveExtractor> extractor(new (std::nothrow) ArchiveExtractor);
        if (!extractor) return Finish(kExitWriteFailed, DescribeFailure(Failure::kOutOfMemory));
        return ShowInfo(*extractor, start, host);
    }
    if (start.encrypted()) {
        const int password = ObtainPassword(start, options, host);
        if (password != kExitComplete) return password;
    }
    std::unique_ptr<ArchiveExtractor> extractor = start.MakeExtractor();
    if (!extractor) return Finish(kExitWriteFailed, DescribeFailure(Failure::kOutOfMemory));
    if (options.mode == RunMode::kList || options.mode == RunMode::kCheck) {
        return ListOrCheck(*extractor, start.image(), options.mode == RunMode::kList);
    }
    return Extract(*extractor, start, options);
}

}  // namespace

int ExitStatusForFailure(Failure failure) {
    switch (failure) {
        case Failure::kOpenFailed:
        case Failure::kShortHeader:
        case Failure::kHeaderRejected:
        case Failure::kDecoderRefused:
        case Failure::kShortPayload:
        case Failure::kDigestMismatch:
        case Failure::kCorruptData:
        case Failure::kSizeMismatch:
        case Failure::kMalformedRecord:
        case Failure::kUnsafeName:
            return kExitDamaged;
        default:
            return kExitWriteFailed;
    }
}

bool RunSelfExtractingProgram(const std::vector<std::string>& arguments,
                              const SelfExtractHost& host, int& exitStatus) {
    if (arguments.empty()) {
        // A run without arguments keeps its statuses: a licence not accepted fails it (1).
        std::string refusal;
        if (!LicenceAllowsRun(LicenceRoutesFor(host), false, false, refusal)) {
            exitStatus = Finish(1, refusal);
            return true;
        }
        RunReport report;
        const int run =
            RunEmbeddedArchive(SelfExtractPasswordAsker(host.openDisplay, host.dialog), &report);
        if (run == 0) return false;
        exitStatus = RunExitStatus(run, report);
        return true;
    }
    TraceLog log;
    SelfExtractStart start;
    if (!start.Find()) return false;
    SelfExtractOptions options;
    std::string reason;
    const bool parsed = ParseSelfExtractArguments(arguments, host.slashHelp, options, reason);
    if (parsed && !options.logFile.empty() && !log.Open(options.logFile, LogFirstLine(arguments))) {
        exitStatus = UsageError(host, "cannot write the log: " + EscapeForDisplay(options.logFile));
        return true;
    }
    if (options.logFile.empty()) log.Drop();
    if (!parsed) {
        exitStatus = UsageError(host, reason);
    } else if (options.mode == RunMode::kHelp) {
        ShowText(host, SelfExtractHelp(ProgramName()));
        exitStatus = kExitComplete;
    } else {
        exitStatus = RunWithOptions(start, options, host);
    }
    return true;
}

}  // namespace winqor
