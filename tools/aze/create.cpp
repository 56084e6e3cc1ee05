// aze create: packs a folder into an archive, written whole or not at all.
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder.h"
#include "platform/terminal.h"
#include "platform/text.h"
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
    std::string error;
    if (!PrepareNewPassword(*password, prepared, error)) {
        PrintError(error);
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

// The archive being replaced is left out of the tree when it lies inside it.
TreeWalkOptions WalkOptionsFor(const std::string& output) {
    TreeWalkOptions options;
    FolderEntry existing;
    if (DescribePath(output, false, existing) && existing.kind == EntryKind::kFile) {
        options.leaveOut = existing.id;
    }
    return options;
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

// The archive options for the tree: the password's digest, the setup flag, a fresh key seed.
bool ChooseArchiveOptions(const std::string& passwordFile, bool runSetup,
                          ArchiveOptions& archiveOptions) {
    std::optional<std::u16string> password;
    archiveOptions.runSetup = runSetup;
    if (!ObtainNewPassword(passwordFile, password) || !SealWithPassword(password, archiveOptions)) {
        return false;
    }
    if (!RandomBytes(archiveOptions.keySeed.data(), archiveOptions.keySeed.size())) {
        PrintError("the system's random generator failed");
        return false;
    }
    return true;
}

}  // namespace

int PackFolder(const std::string& folder, const std::string& passwordFile, bool runSetup,
               const std::string& output, PackedFolder& packed) {
    TreeWalkResult tree;
    const bool walked = WalkTree(folder, WalkOptionsFor(output), tree);
    PrintWarnings(folder, tree.warnings);
    if (!walked) {
        PrintError(tree.error.what, Shown(folder, tree.error.where));
        return kExitBadArchive;
    }
    ArchiveOptions archiveOptions;
    if (!ChooseArchiveOptions(passwordFile, runSetup, archiveOptions)) return kExitBadArchive;
    std::string error;
    if (!WriteArchive(tree.records, archiveOptions, packed.archive, error)) {
        PrintError("cannot make an archive of the folder (" + error + ")", folder);
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
    const int status =
        PackFolder(options.input, options.passwordFile, options.runSetup, output, packed);
    if (status != kExitSuccess) return status;
    std::string error;
    if (!ReplaceFileContents(output, packed.archive, error)) {
        PrintError("cannot write the archive (" + error + ")", output);
        return kExitWriteFailed;
    }
    std::printf("%s: %u files in %u folders, %zu bytes of records stored in %zu bytes\n",
                EscapeForDisplay(output).c_str(), packed.files, packed.folders, packed.recordBytes,
                packed.archive.size());
    return kExitSuccess;
}

}  // namespace winqor::aze
