#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/terminal.h"
#include "platform/text.h"
#include "protection/password.h"
#include "tools/aze/commands.h"

namespace winqor::aze {

void PrintError(const std::string& what, const std::string& where) {
    std::string line = "aze: " + what;
    if (!where.empty()) line += ": " + where;
    std::cerr << line << '\n';
}

namespace {

bool ReadFirstLine(const std::string& passwordFile, std::string& line) {
    if (passwordFile == "-") return static_cast<bool>(std::getline(std::cin, line));
    std::ifstream in(passwordFile);
    if (!in) return false;
    std::getline(in, line);
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
    if (!ReadFirstLine(passwordFile, line)) {
        PrintError("cannot read the password", passwordFile);
        return false;
    }
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

}  // namespace winqor::aze
