// aze create: packs a folder into an archive, written whole or not at all.
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "platform/terminal.h"
#include "platform/tree_reading.h"
#include "platform/whole_file.h"
#include "protection/random.h"
#include "tools/aze/commands.h"
#include "writer/archive_writer.h"
#include "writer/new_password.h"
#include "writer/tree_walker.h"

namespace winqor::aze {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// DIR's path with ".aze"; empty when DIR names no folder of its own ("/", ".", "..").
std::string DefaultOutput(const std::string& input) {
    const std::string trimmed = WithoutTrailingSlashes(input);
    const size_t slash = trimmed.rfind('/');
    const std::string last = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (last.empty() || last == "." || last == "..") return {};
    return trimmed + ".aze";
}

// The password typed twice on the terminal; an empty first answer means no password.
bool AskNewPassword(std::optional<std::u16string>& password, std::string& reason) {
    std::string first, second;
    if (!ReadPasswordFromTerminal("Password for the archive (empty for none): ", first)) {
        reason = "cannot read the password from the terminal";
        return false;
    }
    if (first.empty()) return true;
    if (!ReadPasswordFromTerminal("The same password again: ", second) || second != first) {
        reason = "the two passwords differ";
        return false;
    }
    std::u16string converted;
    if (!Utf8ToUtf16(first, converted)) {
        reason = "the password is not valid UTF-8";
        return false;
    }
    password = std::move(converted);
    return true;
}

// No file and no terminal: a plain archive, as scripts that give no password expect.
bool ObtainNewPassword(const std::string& passwordFile, std::optional<std::u16string>& password,
                       std::string& reason) {
    if (passwordFile.empty()) {
        return !StandardInputIsTerminal() || AskNewPassword(password, reason);
    }
    std::string line;
    if (!ReadPasswordLine(passwordFile, line, reason)) return false;
    std::u16string converted;
    if (!Utf8ToUtf16(line, converted)) {
        reason = Concerning("the password is not valid UTF-8", passwordFile);
        return false;
    }
    password = std::move(converted);
    return true;
}

bool SealWithPassword(const std::optional<std::u16string>& password, ArchiveOptions& archive,
                      std::string& reason) {
    if (!password) return true;
    NewPassword prepared;
    if (!PrepareNewPassword(*password, prepared, reason)) return false;
    if (!prepared.warning.empty()) PrintWarning(prepared.warning);
    archive.passwordDigest = prepared.digest;
    return true;
}

void PrintWarnings(const std::string& input, const std::vector<WalkMessage>& warnings) {
    for (const WalkMessage& warning : warnings) {
        PrintWarning(warning.what, WalkPath(input, warning.where));
    }
}

// Far more patterns than anyone writes; a larger file (a device that never ends) is refused.
constexpr uint64_t kMaxExcludeFileBytes = 1 << 20;

// Adds one pattern per line of file; empty lines, and a carriage return before a line end,
// are ignored.
bool AddExcludesFrom(const std::string& file, ExcludeList& exclude, std::string& reason) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (ReadWholeFile(file, kMaxExcludeFileBytes, bytes, why) != ReadOutcome::kRead) {
        reason = Concerning("cannot read the patterns (a file of at most 1 MiB)", file);
        return false;
    }
    std::string line;
    for (size_t at = 0; at <= bytes.size(); ++at) {
        if (at < bytes.size() && bytes[at] != '\n') {
            line += static_cast<char>(bytes[at]);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) exclude.Add(line);
        line.clear();
    }
    return true;
}

// SOURCE_DATE_EPOCH, the convention of reproducible builds: when set, a decimal count of
// seconds since 1970 that no stored file time may exceed.
bool ReadSourceDateEpoch(std::optional<int64_t>& latest, std::string& reason) {
    const char* value = std::getenv("SOURCE_DATE_EPOCH");
    if (value == nullptr) return true;
    const std::string text = value;
    int64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || text.front() == '-' || error != std::errc() ||
        end != text.data() + text.size()) {
        reason =
            Concerning("SOURCE_DATE_EPOCH is not a decimal number of seconds since 1970", text);
        return false;
    }
    latest = seconds;
    return true;
}

// What the walk leaves out and the latest time it stores; the archive being replaced is left
// out of the tree when it lies inside it. false, with reason set, on a usage error.
bool WalkOptionsFor(const PackOptions& pack, const std::string& output, TreeWalkOptions& options,
                    std::string& reason) {
    FolderEntry existing;
    if (DescribePath(output, false, existing) && existing.kind == EntryKind::kFile) {
        options.leaveOut = existing.id;
    }
    for (const std::string& pattern : pack.excludes) options.exclude.Add(pattern);
    if (!pack.excludeFrom.empty() && !AddExcludesFrom(pack.excludeFrom, options.exclude, reason)) {
        return false;
    }
    return ReadSourceDateEpoch(options.latestTime, reason);
}

// Whether the packed tree holds the Setup.exe that --run-setup asks the run to start.
bool TreeCarriesSetup(const std::vector<uint8_t>& records) {
    ArchiveExtractor extractor;
    return extractor.UseDecodedStream(records.data(), static_cast<uint32_t>(records.size())) != 0 &&
           RecordsCarrySetup(extractor);
}

bool CheckArguments(const CreateOptions& options, std::string& output, std::string& reason) {
    FolderEntry input;
    if (!DescribePath(options.input, true, input) || input.kind != EntryKind::kFolder) {
        reason = Concerning("not a folder", options.input);
        return false;
    }
    output = options.output.empty() ? DefaultOutput(options.input) : options.output;
    if (output.empty()) {
        reason = Concerning("give -o OUT.aze: no archive name can be made from the folder",
                            options.input);
        return false;
    }
    return true;
}

// The archive options for the tree: the password's digest, the setup flag and, with a
// password, the key seed: fresh unless asked to be reproducible. A plain archive's stays zero.
bool ChooseArchiveOptions(const PackOptions& pack, const std::vector<uint8_t>& records,
                          ArchiveOptions& archiveOptions, std::string& reason) {
    std::optional<std::u16string> password;
    archiveOptions.runSetup = pack.runSetup;
    if (!ObtainNewPassword(pack.passwordFile, password, reason) ||
        !SealWithPassword(password, archiveOptions, reason)) {
        return false;
    }
    if (!archiveOptions.passwordDigest) return true;
    if (pack.reproducible) {
        archiveOptions.keySeed = ContentKeySeed(*archiveOptions.passwordDigest, records);
        return true;
    }
    if (!RandomBytes(archiveOptions.keySeed.data(), archiveOptions.keySeed.size())) {
        reason = "the system's random generator failed";
        return false;
    }
    return true;
}

}  // namespace

ExitStatus PackFolder(const std::string& folder, const PackOptions& options,
                      const std::string& output, PackedFolder& packed, std::string& reason) {
    TreeWalkOptions walkOptions;
    if (!WalkOptionsFor(options, output, walkOptions, reason)) return ExitStatus::kUsage;
    TreeWalkResult tree;
    const bool walked = WalkTree(folder, walkOptions, tree, reason);
    PrintWarnings(folder, tree.warnings);
    if (!walked) return ExitStatus::kBadArchive;
    if (options.runSetup && !TreeCarriesSetup(tree.records)) {
        reason = Concerning("--run-setup needs a Setup.exe at the top of the folder", folder);
        return ExitStatus::kBadArchive;
    }
    ArchiveOptions archiveOptions;
    if (!ChooseArchiveOptions(options, tree.records, archiveOptions, reason)) {
        return ExitStatus::kBadArchive;
    }
    std::string why;
    if (!WriteArchive(tree.records, archiveOptions, packed.archive, why)) {
        reason = Concerning("cannot make an archive of the folder (" + why + ")", folder);
        return ExitStatus::kBadArchive;
    }
    packed.files = tree.files;
    packed.folders = tree.folders;
    packed.recordBytes = tree.records.size();
    return ExitStatus::kSuccess;
}

ExitStatus RunCreate(const CreateOptions& options, std::string& reason) {
    std::string output;
    if (!CheckArguments(options, output, reason)) return ExitStatus::kUsage;
    PackedFolder packed;
    const ExitStatus status = PackFolder(options.input, options.pack, output, packed, reason);
    if (status != ExitStatus::kSuccess) return status;
    std::string why;
    if (!ReplaceFileContents(output, packed.archive, why)) {
        reason = Concerning("cannot write the archive (" + why + ")", output);
        return ExitStatus::kWriteFailed;
    }
    std::printf("%s: %u files in %u folders, %zu bytes of records stored in %zu bytes\n",
                EscapeForDisplay(output).c_str(), packed.files, packed.folders, packed.recordBytes,
                packed.archive.size());
    return ExitStatus::kSuccess;
}

}  // namespace winqor::aze
