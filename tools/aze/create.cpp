// aze create: packs a folder into an archive, written whole or not at all.
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/archive_extractor.h"
#include "platform/terminal.h"
#include "platform/text.h"
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

std::string Shown(const std::string& input, const std::string& where) {
    return where.empty() ? input : JoinNativePath(WithoutTrailingSlashes(input), where);
}

// The password typed twice on the terminal; an empty first answer means no password.
bool AskNewPassword(std::optional<std::u16string>& password) {
    std::string first, second;
    if (!ReadPasswordFromTerminal("Password for the archive (empty for none): ", first)) {
        PrintError("cannot read the password from the terminal");
        return false;
    }
    if (first.empty()) return true;
    if (!ReadPasswordFromTerminal("The same password again: ", second) || second != first) {
        PrintError("the two passwords differ");
        return false;
    }
    std::u16string converted;
    if (!Utf8ToUtf16(first, converted)) {
        PrintError("the password is not valid UTF-8");
        return false;
    }
    password = std::move(converted);
    return true;
}

// No file and no terminal: a plain archive, as scripts that give no password expect.
bool ObtainNewPassword(const std::string& passwordFile, std::optional<std::u16string>& password) {
    if (passwordFile.empty()) return !StandardInputIsTerminal() || AskNewPassword(password);
    std::string line;
    if (!ReadPasswordLine(passwordFile, line)) return false;
    std::u16string converted;
    if (!Utf8ToUtf16(line, converted)) {
        PrintError("the password is not valid UTF-8", passwordFile);
        return false;
    }
    password = std::move(converted);
    return true;
}

bool SealWithPassword(const std::optional<std::u16string>& password, ArchiveOptions& archive) {
    if (!password) return true;
    NewPassword prepared;
    std::string reason;
    if (!PrepareNewPassword(*password, prepared, reason)) {
        PrintError(reason);
        return false;
    }
    if (!prepared.warning.empty()) PrintError("warning: " + prepared.warning);
    archive.passwordDigest = prepared.digest;
    return true;
}

void PrintWarnings(const std::string& input, const std::vector<WalkMessage>& warnings) {
    for (const WalkMessage& warning : warnings) {
        PrintError("warning: " + warning.what, Shown(input, warning.where));
    }
}

// Far more patterns than anyone writes; a larger file (a device that never ends) is refused.
constexpr uint64_t kMaxExcludeFileBytes = 1 << 20;

// Adds one pattern per line of file; empty lines, and a carriage return before a line end,
// are ignored.
bool AddExcludesFrom(const std::string& file, ExcludeList& exclude) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (ReadWholeFile(file, kMaxExcludeFileBytes, bytes, reason) != ReadOutcome::kRead) {
        PrintError("cannot read the patterns (a file of at most 1 MiB)", file);
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
bool ReadSourceDateEpoch(std::optional<int64_t>& latest) {
    const char* value = std::getenv("SOURCE_DATE_EPOCH");
    if (value == nullptr) return true;
    const std::string text = value;
    int64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || text.front() == '-' || error != std::errc() ||
        end != text.data() + text.size()) {
        PrintError("SOURCE_DATE_EPOCH is not a decimal number of seconds since 1970", text);
        return false;
    }
    latest = seconds;
    return true;
}

// What the walk leaves out and the latest time it stores; the archive being replaced is left
// out of the tree when it lies inside it. false, the failure printed, on a usage error.
bool WalkOptionsFor(const PackOptions& pack, const std::string& output, TreeWalkOptions& options) {
    FolderEntry existing;
    if (DescribePath(output, false, existing) && existing.kind == EntryKind::kFile) {
        options.leaveOut = existing.id;
    }
    for (const std::string& pattern : pack.excludes) options.exclude.Add(pattern);
    if (!pack.excludeFrom.empty() && !AddExcludesFrom(pack.excludeFrom, options.exclude)) {
        return false;
    }
    return ReadSourceDateEpoch(options.latestTime);
}

// Whether the packed tree holds the Setup.exe that --run-setup asks the run to start.
bool TreeCarriesSetup(const std::vector<uint8_t>& records) {
    ArchiveExtractor extractor;
    return extractor.archive.UseDecodedStream(records.data(),
                                              static_cast<uint32_t>(records.size())) != 0 &&
           RecordsCarrySetup(extractor);
}

int CheckArguments(const CreateOptions& options, std::string& output) {
    FolderEntry input;
    if (!DescribePath(options.input, true, input) || input.kind != EntryKind::kFolder) {
        PrintError("not a folder", options.input);
        return kExitUsage;
    }
    output = options.output.empty() ? DefaultOutput(options.input) : options.output;
    if (output.empty()) {
        PrintError("give -o OUT.aze: no archive name can be made from the folder", options.input);
        return kExitUsage;
    }
    return kExitSuccess;
}

// The archive options for the tree: the password's digest, the setup flag and, with a
// password, the key seed: fresh unless asked to be reproducible. A plain archive's stays zero.
bool ChooseArchiveOptions(const PackOptions& pack, const std::vector<uint8_t>& records,
                          ArchiveOptions& archiveOptions) {
    std::optional<std::u16string> password;
    archiveOptions.runSetup = pack.runSetup;
    if (!ObtainNewPassword(pack.passwordFile, password) ||
        !SealWithPassword(password, archiveOptions)) {
        return false;
    }
    if (!archiveOptions.passwordDigest) return true;
    if (pack.reproducible) {
        archiveOptions.keySeed = ContentKeySeed(*archiveOptions.passwordDigest, records);
        return true;
    }
    if (!RandomBytes(archiveOptions.keySeed.data(), archiveOptions.keySeed.size())) {
        PrintError("the system's random generator failed");
        return false;
    }
    return true;
}

}  // namespace

int PackFolder(const std::string& folder, const PackOptions& options, const std::string& output,
               PackedFolder& packed) {
    TreeWalkOptions walkOptions;
    if (!WalkOptionsFor(options, output, walkOptions)) return kExitUsage;
    TreeWalkResult tree;
    const bool walked = WalkTree(folder, walkOptions, tree);
    PrintWarnings(folder, tree.warnings);
    if (!walked) {
        PrintError(tree.error.what, Shown(folder, tree.error.where));
        return kExitBadArchive;
    }
    if (options.runSetup && !TreeCarriesSetup(tree.records)) {
        PrintError("--run-setup needs a Setup.exe at the top of the folder", folder);
        return kExitBadArchive;
    }
    ArchiveOptions archiveOptions;
    if (!ChooseArchiveOptions(options, tree.records, archiveOptions)) return kExitBadArchive;
    std::string reason;
    if (!WriteArchive(tree.records, archiveOptions, packed.archive, reason)) {
        PrintError("cannot make an archive of the folder (" + reason + ")", folder);
        return kExitBadArchive;
    }
    packed.files = tree.files;
    packed.folders = tree.folders;
    packed.recordBytes = tree.records.size();
    return kExitSuccess;
}

int RunCreate(const CreateOptions& options) {
    std::string output;
    if (int status = CheckArguments(options, output); status != kExitSuccess) return status;
    PackedFolder packed;
    const int status = PackFolder(options.input, options.pack, output, packed);
    if (status != kExitSuccess) return status;
    std::string reason;
    if (!ReplaceFileContents(output, packed.archive, reason)) {
        PrintError("cannot write the archive (" + reason + ")", output);
        return kExitWriteFailed;
    }
    std::printf("%s: %u files in %u folders, %zu bytes of records stored in %zu bytes\n",
                EscapeForDisplay(output).c_str(), packed.files, packed.folders, packed.recordBytes,
                packed.archive.size());
    return kExitSuccess;
}

}  // namespace winqor::aze
