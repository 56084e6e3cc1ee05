#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "engine/archive_extractor.h"
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
    const std::string where = extractor.failureWhere().empty()
                                  ? fallbackWhere
                                  : Utf16ToUtf8Lossy(extractor.failureWhere());
    PrintError(DescribeFailure(extractor.failure()), where);
}

namespace {

enum class LineRead { kLine, kNothing, kTooLong };

// The first line of in without its line end, never more than a password line may hold: a
// file without line ends (a device that never ends) is refused once that is exceeded.
LineRead ReadBoundedLine(std::istream& in, std::string& line) {
    line.clear();
    char byte;
    bool any = false;
    while (in.get(byte)) {
        any = true;
        if (byte == '\n') break;
        if (line.size() == kMaxPasswordLineBytes) return LineRead::kTooLong;
        line += byte;
    }
    return any ? LineRead::kLine : LineRead::kNothing;
}

// The first line of passwordFile, or a failure line printed. Standard input that ends at once
// holds no password; a file that is empty holds the empty one.
bool ReadFirstLine(const std::string& passwordFile, std::string& line) {
    const bool fromStandardInput = passwordFile == "-";
    if (!fromStandardInput && IsFolder(passwordFile)) {
        PrintError("the password file is a folder", passwordFile);
        return false;
    }
    std::ifstream file;
    if (!fromStandardInput) file.open(passwordFile, std::ios::binary);
    std::istream& in = fromStandardInput ? std::cin : file;
    const LineRead read = in ? ReadBoundedLine(in, line) : LineRead::kNothing;
    if (read == LineRead::kTooLong) {
        PrintError("the password file's first line is longer than " +
                       std::to_string(kMaxPasswordLineBytes) + " bytes",
                   passwordFile);
        return false;
    }
    if (in.bad() || (!fromStandardInput && !file.is_open()) ||
        (fromStandardInput && read == LineRead::kNothing)) {
        PrintError("cannot read the password", passwordFile);
        return false;
    }
    return true;
}

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
    if (!ReadFirstLine(passwordFile, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool ObtainPassword(const std::string& passwordFile, const ArchiveHeader& header) {
    std::string line;
    if (!ReadPassword(passwordFile, line)) return false;
    std::u16string password;
    if (!Utf8ToUtf16(line, password) || !AcceptPassword(password.c_str(), &header)) {
        PrintError("wrong password");
        return false;
    }
    return true;
}

int FinishOutput(int status) {
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good()) return status;
    PrintError("cannot write to standard output");
    return status == kExitSuccess ? kExitBadArchive : status;
}

}  // namespace winqor::aze
