#include "engine/password_file.h"

#include <cstdio>

#include "platform/terminal.h"
#include "platform/tree_reading.h"

namespace winqor {
namespace {

enum class LineRead { kLine, kNothing, kTooLong };

LineRead ReadBoundedLine(std::FILE* in, std::string& line) {
    line.clear();
    bool any = false;
    for (int byte; (byte = std::fgetc(in)) != EOF;) {
        any = true;
        if (byte == '\n') break;
        if (line.size() == kMaxPasswordLineBytes) return LineRead::kTooLong;
        line += static_cast<char>(byte);
    }
    return any ? LineRead::kLine : LineRead::kNothing;
}

bool IsFolder(const std::string& path) {
    FolderEntry entry;
    return DescribePath(path, /*followLink=*/true, entry) && entry.kind == EntryKind::kFolder;
}

}  // namespace

PasswordFileRead ReadPasswordFile(const std::string& passwordFile, std::string& line) {
    const bool fromStandardInput = passwordFile == "-";
    if (!fromStandardInput && IsFolder(passwordFile)) return PasswordFileRead::kFolder;
    // C stdio rather than iostreams: the static Windows program would carry their locale
    // machinery, several hundred kB, for one line.
    std::FILE* file = fromStandardInput ? stdin : std::fopen(passwordFile.c_str(), "rb");
    if (file == nullptr) return PasswordFileRead::kUnreadable;
    const LineRead read = ReadBoundedLine(file, line);
    const bool failed = std::ferror(file) != 0;
    if (!fromStandardInput) std::fclose(file);
    if (read == LineRead::kTooLong) return PasswordFileRead::kTooLong;
    if (failed || (fromStandardInput && read == LineRead::kNothing)) {
        return PasswordFileRead::kUnreadable;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return PasswordFileRead::kRead;
}

std::string DescribePasswordFileRead(PasswordFileRead read) {
    switch (read) {
        case PasswordFileRead::kFolder:
            return "the password file is a folder";
        case PasswordFileRead::kTooLong:
            return "the password file's first line is longer than " +
                   std::to_string(kMaxPasswordLineBytes) + " bytes";
        case PasswordFileRead::kUnreadable:
            return "cannot read the password";
        case PasswordFileRead::kRead:
            break;
    }
    return {};
}

}  // namespace winqor
