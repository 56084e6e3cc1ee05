// The subcommands of aze and what they share. Exit statuses are a contract with scripts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/archive_header.h"

namespace winqor {
class ArchiveExtractor;
}

namespace winqor::aze {

// How a command ended; its value is the exit status.
enum class ExitStatus {
    kSuccess = 0,
    kBadArchive = 1,  // not valid, damaged, or the password is wrong
    kUsage = 2,
    kWriteFailed = 3,  // extraction started; what was written stays
    kSandbox = 4,      // the sandbox that reads the archive failed or broke
};

// How a folder is packed, for create and sfx alike.
struct PackOptions {
    std::string passwordFile;
    bool runSetup = false;
    std::vector<std::string> excludes;
    std::string excludeFrom;  // one pattern a line
    // With a password: the key seed made of the password and the records, not at random.
    bool reproducible = false;
};

struct CreateOptions {
    std::string output;  // empty: DIR with ".aze"
    PackOptions pack;
    std::string input;
};

struct SfxOptions {
    std::string output;
    PackOptions pack;
    std::string stub;      // empty: the winqor program beside aze
    bool windows = false;  // without stub: the Windows winqor.exe installed beside aze's
    std::string input;
    // A Windows program's identity: its icon (an .ico file) and KEY=VALUE version settings.
    std::string icon;
    std::vector<std::string> versionInfo;
    std::string licence;  // --license: a text the program asks to accept before it unpacks
};

struct ReadOptions {
    std::string passwordFile;
    std::string destination;  // extract only; empty: ARCHIVE without its extension
    std::string archive;
    bool json = false;  // list only: JSON Lines instead of D and F lines
};

struct InfoOptions {
    std::string archive;
    bool json = false;  // one JSON object instead of "name: value" lines
};

// Each command prints what it made or read on standard output and its warnings on standard
// error; when it fails, reason says why, and main prints it (ReportAndFinish).
ExitStatus RunCreate(const CreateOptions& options, std::string& reason);
ExitStatus RunSfx(const SfxOptions& options, std::string& reason);
ExitStatus RunList(const ReadOptions& options, std::string& reason);
ExitStatus RunTest(const ReadOptions& options, std::string& reason);
ExitStatus RunExtract(const ReadOptions& options, std::string& reason);
ExitStatus RunInfo(const InfoOptions& options, std::string& reason);

// The licence file of aze sfx --license, read and checked (see CheckLicenceText) before
// anything is packed. false, with reason set, when it cannot be carried.
bool ReadLicenceFile(const std::string& path, std::vector<uint8_t>& text, std::string& reason);

// A folder packed as aze create packs it.
struct PackedFolder {
    std::vector<uint8_t> archive;  // header and payload
    uint32_t files = 0;
    uint32_t folders = 0;  // the root included
    size_t recordBytes = 0;
};

// Walks folder, leaving out what the options exclude, obtains the password (passwordFile, else
// the terminal, else none) and makes the archive bytes; the file at output, if it lies in the
// folder, is left out, and SOURCE_DATE_EPOCH, when set, is the latest file time stored.
// Warnings are printed. kUsage, with reason set, when SOURCE_DATE_EPOCH or the exclude file is
// not usable; kBadArchive when no archive can be made.
ExitStatus PackFolder(const std::string& folder, const PackOptions& options,
                      const std::string& output, PackedFolder& packed, std::string& reason);

// Whether path names a folder, following links (the user named it).
bool IsFolder(const std::string& path);

// Where an archive or a self-extracting program at path extracts by default: the path
// without its extension, or PATH.d when it has none, never the file itself. Empty when it
// does not fit a path.
std::string DefaultOutputFolder(const std::string& path);

// A reason about a place: "WHAT: WHERE" (WHERE left out when empty). WHERE is a name or path,
// shown escaped (see EscapeForDisplay) so that it cannot forge lines or send the terminal a
// command.
std::string Concerning(const std::string& what, const std::string& where);

// One warning line on standard error: "aze: warning: WHAT: WHERE", WHERE as in Concerning.
void PrintWarning(const std::string& what, const std::string& where = {});

// The extractor's failure and where it happened (fallbackWhere when it names no place), as a
// reason.
std::string FailureReason(const ArchiveExtractor& extractor, const std::string& fallbackWhere);

// The first line of passwordFile ("-" is standard input) without its line end. false, with
// reason set, when the file cannot be read, is a folder, or its first line is longer than a
// password line may be (then no more of it is read).
bool ReadPasswordLine(const std::string& passwordFile, std::string& line, std::string& reason);

// Reads the password of an encrypted archive from the first line of passwordFile ("-" is
// standard input) or, without a file, from the terminal without echo, and accepts it
// against header. True when digest holds the accepted password's digest; false, with reason
// set, otherwise.
bool ObtainPassword(const std::string& passwordFile, const ArchiveHeader& header,
                    uint8_t digest[16], std::string& reason);

// Whether the decoded records in extractor hold a file named Setup.exe in their root folder:
// the program a self-extracting run starts when the header asks for it. false too when the
// records break their rules.
bool RecordsCarrySetup(ArchiveExtractor& extractor);

// Why the self-extracting program at program carries no usable archive, when
// LoadEmbeddedArchive (engine/embedded_archive.h) found it damaged: what is wrong with its file
// (fileReason, as LoadEmbeddedArchive gave it), else the failure of the archive it carries,
// which extractor holds.
std::string DamagedProgramReason(const std::string& fileReason, const ArchiveExtractor& extractor,
                                 const std::string& program);

// Ends a command, the one place where a failure becomes a message: a failed command's reason
// is printed as "aze: REASON" (nothing when it is empty: the command line's own parser has
// printed its usage error), everything written to standard output is flushed, and a failed
// write there turns the status into a failure (1 unless it already is one) with its line
// printed. The exit status.
int ReportAndFinish(ExitStatus status, const std::string& reason);

}  // namespace winqor::aze
