#include <cstdio>
#include <iostream>
#include <string>

#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "engine/password_file.h"
#include "engine/record_sink.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "platform/tree_reading.h"
#include "protection/password.h"
#include "tools/aze/commands.h"

namespace winqor::aze {

bool IsFolder(const std::string& path) {
    FolderEntry entry;
    return DescribePath(path, /*followLink=*/true, entry) && entry.kind == EntryKind::kFolder;
}

void PrintError(const std::string& what, const std::string& where) {
    std::string line = "aze: " + what;
    if (!where.empty()) line += ": " + EscapeForDisplay(where);
    std::cerr << line << '\n';
}

void PrintFailure(const ArchiveExtractor& extractor, const std::string& fallbackWhere) {
    const std::string where = extractor.report.failureWhere().empty()
                                  ? fallbackWhere
                                  : Utf16ToUtf8Lossy(extractor.report.failureWhere());
    PrintError(DescribeFailure(extractor.report.failure()), where);
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
bool ReadPassword(const std::string& passwordFile, std::string& line) {
    if (!passwordFile.empty()) return ReadPasswordLine(passwordFile, line);
    if (!StandardInputIsTerminal()) {
        PrintError("the archive is encrypted: give --password-file");
        return false;
    }
    if (!ReadPasswordFromTerminal("Password: ", line)) {
        PrintError("cannot read the password from the terminal");
        return false;
    }
    return true;
}

}  // namespace

bool ReadPasswordLine(const std::string& passwordFile, std::string& line) {
    const PasswordFileRead read = ReadPasswordFile(passwordFile, line);
    if (read == PasswordFileRead::kRead) return true;
    PrintError(DescribePasswordFileRead(read), passwordFile);
    return false;
}

bool ObtainPassword(const std::string& passwordFile, const ArchiveHeader& header) {
    std::string line;
    if (!ReadPassword(passwordFile, line)) return false;
    std::u16string password;
    const bool converted = Utf8ToUtf16(line, password);
    // Only the first 15 characters would count: a longer password is refused, not cut, as
    // create refuses it.
    if (converted && password.size() > kMaxPasswordChars) {
        PrintError(
            "the password is longer than 15 characters, more than a reader's password "
            "window takes (a character outside the Basic Multilingual Plane counts as two)");
        return false;
    }
    if (!converted || !AcceptPassword(password.c_str(), &header)) {
        PrintError("wrong password");
        return false;
    }
    return true;
}

bool RecordsCarrySetup(ArchiveExtractor& extractor) {
    SetupFinder finder;
    return extractor.tree.CheckRecords(&finder) != 0 && finder.found();
}

int FinishOutput(int status) {
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good()) return status;
    PrintError("cannot write to standard output");
    return status == kExitSuccess ? kExitBadArchive : status;
}

}  // namespace winqor::aze
