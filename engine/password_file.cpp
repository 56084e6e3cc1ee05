#include "engine/password_file.h"

#include <fstream>
#include <iostream>

#include "platform/terminal.h"
#include "platform/tree_reading.h"

namespace winqor {
namespace {

enum class LineRead { kLine, kNothing, kTooLong };

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

bool IsFolder(const std::string& path) {
    FolderEntry entry;
    return DescribePath(path, /*followLink=*/true, entry) && entry.kind == EntryKind::kFolder;
}

}  // namespace

PasswordFileRead ReadPasswordFile(const std::string& passwordFile, std::string& line) {
    const bool fromStandardInput = passwordFile == "-";
    if (!fromStandardInput && IsFolder(passwordFile)) return PasswordFileRead::kFolder;
    std::ifstream file;
    if (!fromStandardInput) file.open(passwordFile, std::ios::binary);
    std::istream& in = fromStandardInput ? std::cin : file;
    const LineRead read = in ? ReadBoundedLine(in, line) : LineRead::kNothing;
    if (read == LineRead::kTooLong) return PasswordFileRead::kTooLong;
    if (in.bad() || (!fromStandardInput && !file.is_open()) ||
        (fromStandardInput && read == LineRead::kNothing)) {
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
