// The subcommands of aze and what they share. Exit statuses are a contract with scripts.
#pragma once

#include <string>

#include "format/archive_header.h"

namespace winqor {
class ArchiveExtractor;
}

namespace winqor::aze {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitBadArchive = 1;  // not valid, damaged, or the password is wrong
inline constexpr int kExitUsage = 2;
inline constexpr int kExitWriteFailed = 3;  // extraction started; what was written stays

struct CreateOptions {
    std::string output;  // empty: DIR with ".aze"
    std::string passwordFile;
    bool runSetup = false;
    std::string input;
};

struct SfxOptions {
    std::string output;
    std::string passwordFile;
    bool runSetup = false;
    std::string stub;  // empty: the winqor program beside aze
    std::string input;
};

struct ReadOptions {
    std::string passwordFile;
    std::string destination;  // extract only; empty: ARCHIVE without its extension
    std::string archive;
};

int RunCreate(const CreateOptions& options);
int RunSfx(const SfxOptions& options);
int RunList(const ReadOptions& options);
int RunTest(const ReadOptions& options);
int RunExtract(const ReadOptions& options);

// One line on standard error: "aze: WHAT: WHERE" (WHERE left out when empty).
void PrintError(const std::string& what, const std::string& where = {});

// Reads the password of an encrypted archive from the first line of passwordFile ("-" is
// standard input) or, without a file, from the terminal without echo, and accepts it
// against header. True when g_passwordDigest holds the accepted password's digest;
// otherwise the failure line has been printed.
bool ObtainPassword(const std::string& passwordFile, const ArchiveHeader& header);

// Loads the archive carried inside a self-extracting program. 1 when loaded; 0 when the file
// carries none (nothing printed); -1 when it carries a damaged one (the failure is recorded).
int LoadEmbeddedArchive(const std::string& program, ArchiveExtractor& extractor);

}  // namespace winqor::aze
