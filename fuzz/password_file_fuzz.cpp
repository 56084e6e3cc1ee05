// The self-extracting program's password file (--password-file). The input is the file's
// bytes: read as the program reads it, its first line must come back whole (without its line
// end, a "\r" before the "\n" included) or be refused exactly when it is longer than a password
// line may be; the line then goes on as the program's password does, through UTF-8 to UTF-16
// and the archive's password check.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "engine/password_file.h"
#include "format/archive_header.h"
#include "fuzz/harness.h"
#include "platform/terminal.h"
#include "protection/password.h"

namespace {

using winqor::fuzz::Require;

// The header of an archive whose password is "fuzz".
const winqor::ArchiveHeader& FuzzHeader() {
    static const winqor::ArchiveHeader header = [] {
        winqor::ArchiveHeader made{};
        winqor::HeaderFields fields;
        const auto digest = winqor::fuzz::FixedPasswordDigest();
        winqor::ComputeCheckValue(fields.passwordCheck, digest.data());
        winqor::BuildHeader(fields, made.image);
        return made;
    }();
    return header;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    if (size > 3 * kMaxPasswordLineBytes) return 0;
    fuzz::Sandbox& sandbox = fuzz::Sandbox::Get();
    sandbox.Enter();
    std::filesystem::create_directories(sandbox.root());
    const std::filesystem::path file = sandbox.root() / "password";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::string line;
    const PasswordFileRead read = ReadPasswordFile(file.string(), line);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string first = bytes.substr(0, bytes.find('\n'));
    if (first.size() > kMaxPasswordLineBytes) {
        Require(read == PasswordFileRead::kTooLong, "a first line too long was taken");
    } else {
        Require(read == PasswordFileRead::kRead, "a readable first line was refused");
        if (!first.empty() && first.back() == '\r') first.pop_back();
        Require(line == first, "the first line did not come back whole");
        std::u16string password;
        if (Utf8ToUtf16(line, password)) {
            const bool accepted = AcceptPassword(password.c_str(), &FuzzHeader());
            Require(line != "fuzz" || accepted, "the archive's own password was refused");
        }
    }
    sandbox.CheckAndClear();
    return 0;
}
