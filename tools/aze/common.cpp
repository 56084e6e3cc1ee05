#include <cstdio>
#include <iostream>
#include <string>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "engine/password_file.h"
#include "engine/record_sink.h"
#include "platform/terminal.h"
#include "platform/tree_reading.h"
#include "protection/password.h"
#include "tools/aze/commands.h"

namespace winqor::aze {

bool IsFolder(const std::string& path) {
    FolderEntry entry;
    return DescribePath(path, /*followLink=*/true, entry) && entry.kind == EntryKind::kFolder;
}

std::string Concerning(const std::string& what, const std::string& where) {
    return where.empty() ? what : what + ": " + EscapeForDisplay(where);
}

void PrintWarning(const std::string& what, const std::string& where) {
    std::cerr << "aze: warning: " << Concerning(what, where) << '\n';
}

std::string FailureReason(const ArchiveExtractor& extractor, const std::string& fallbackWhere) {
    const std::string where = extractor.failureWhere().empty()
                                  ? fallbackWhere
                                  : Utf16ToUtf8Lossy(extractor.failureWhere());
    return Concerning(DescribeFailure(extractor.failure()), where);
}

std::string DamagedProgramReason(const std::string& fileReason, const ArchiveExtractor& extractor,
                                 const std::string& program) {
    return fileReason.empty() ? FailureReason(extractor, program) : Concerning(fileReason, program);
}

namespace {

// Notes whether the root folder holds a file named Setup.exe.
class SetupFinder : public RecordSink {
  public:
    bool Directory(const char16_t*, const char16_t* const*, uint32_t count) override {
        inRoot_ = count == 0;
        return true;
    }
    bool File(const char16_t* name, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t) override {
        found_ = found_ || (inRoot_ && std::u16string_view(name) == kSetupProgram);
        return true;
    }
    bool found() const { return found_; }

  private:
    bool inRoot_ = false;
    bool found_ = false;
};

// From the file when one is given, else from the terminal without echo.
bool ReadPassword(const std::string& passwordFile, std::string& line, std::string& reason) {
    if (!passwordFile.empty()) return ReadPasswordLine(passwordFile, line, reason);
    if (!StandardInputIsTerminal()) {
        reason = "the archive is encrypted: give --password-file";
        return false;
    }
    if (!ReadPasswordFromTerminal("Password: ", line)) {
        reason = "cannot read the password from the terminal";
        return false;
    }
    return true;
}

}  // namespace

bool ReadPasswordLine(const std::string& passwordFile, std::string& line, std::string& reason) {
    const PasswordFileRead read = ReadPasswordFile(passwordFile, line);
    if (read == PasswordFileRead::kRead) return true;
    reason = Concerning(DescribePasswordFileRead(read), passwordFile);
    return false;
}

bool ObtainPassword(const std::string& passwordFile, const ArchiveHeader& header,
                    uint8_t digest[16], std::string& reason) {
    std::string line;
    if (!ReadPassword(passwordFile, line, reason)) return false;
    std::u16string password;
    const PasswordVerdict verdict = Utf8ToUtf16(line, password)
                                        ? CheckPassword(password, header, digest)
                                        : PasswordVerdict::kWrong;
    if (verdict == PasswordVerdict::kTooLong) {
        reason =
            "the password is longer than 15 characters, more than a reader's password "
            "window takes (a character outside the Basic Multilingual Plane counts as two)";
        return false;
    }
    if (verdict != PasswordVerdict::kAccepted) {
        reason = "wrong password";
        return false;
    }
    return true;
}

bool RecordsCarrySetup(ArchiveExtractor& extractor) {
    SetupFinder finder;
    return extractor.CheckRecords(&finder) != 0 && finder.found();
}

int ReportAndFinish(ExitStatus status, const std::string& reason) {
    if (status != ExitStatus::kSuccess && !reason.empty()) std::cerr << "aze: " << reason << '\n';
    std::cout.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout.good()) {
        std::cerr << "aze: cannot write to standard output\n";
        if (status == ExitStatus::kSuccess) status = ExitStatus::kBadArchive;
    }
    return static_cast<int>(status);
}

std::string DefaultOutputFolder(const std::string& path) {
    std::u16string wide;
    char16_t folder[kMaxPath];
    if (!Utf8ToUtf16(path, wide) || !OutputFolderFor(wide.c_str(), folder)) return {};
    return Utf16ToUtf8Lossy(folder);
}

}  // namespace winqor::aze
