#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/tree_writing.h"

#include "platform/posix/support.h"

namespace winqor {

using namespace posix;

// The state of a file being written: the POSIX AtomicReplacement.
class FileReplacement : public AtomicReplacement {};

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

int OpenFolderNoFollow(int parent, const std::string& name) {
    return OpenAtRetrying(parent, name.c_str(), kFolderFlags | O_NOFOLLOW);
}

bool IsLinkAt(int parent, const std::string& name) {
    struct stat info;
    return ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(info.st_mode);
}

// The mode a new folder is made with: a walk that trusts only folders nobody else can write to
// makes its own that way, whatever the umask.
mode_t NewFolderMode(FolderTrust trust) {
    return trust == FolderTrust::kOwnersOnly ? 0755 : 0777;
}

// Opens one component below parent, creating it first when it is the last and missing.
EnterResult OpenComponent(int parent, const std::string& name, bool last, FolderTrust trust,
                          int& opened) {
    opened = OpenFolderNoFollow(parent, name);
    if (opened < 0 && errno == ENOENT && last) {
        if (::mkdirat(parent, name.c_str(), NewFolderMode(trust) & ~CurrentUmask()) != 0 &&
            errno != EEXIST)
            return EnterResult::kFailed;
        opened = OpenFolderNoFollow(parent, name);
    }
    if (opened >= 0) return EnterResult::kEntered;
    return IsLinkAt(parent, name) ? EnterResult::kLinkRefused : EnterResult::kFailed;
}

// Judged through the descriptor, so nothing swapped in after the check counts.
EnterResult JudgeOpened(int folder, FolderTrust trust) {
    struct stat info;
    if (::fstat(folder, &info) != 0) return EnterResult::kFailed;
    if (trust == FolderTrust::kAny) return EnterResult::kEntered;
    switch (JudgeFolder(info)) {
        case FolderJudgement::kNotOwned:
            return EnterResult::kNotOwned;
        case FolderJudgement::kWritableByOthers:
            return EnterResult::kWritableByOthers;
        default:
            return EnterResult::kEntered;
    }
}

// A folder that the running user may trust: a real folder of its own or root's that nobody
// else can write to (one this run has just created is).
OpenRootResult OpenOwnedRoot(const std::string& path, DirectoryHandle& root) {
    Descriptor folder(OpenRetrying(path.c_str(), kFolderFlags | O_NOFOLLOW));
    if (folder.get() < 0) {
        return IsLinkAt(AT_FDCWD, path) ? OpenRootResult::kLink : OpenRootResult::kFailed;
    }
    LearnPrivateGroups();
    switch (JudgeOpened(folder.get(), FolderTrust::kOwnersOnly)) {
        case EnterResult::kEntered:
            root = folder.Release();
            return OpenRootResult::kOpened;
        case EnterResult::kNotOwned:
            return OpenRootResult::kNotOwned;
        case EnterResult::kWritableByOthers:
            return OpenRootResult::kWritableByOthers;
        default:
            return OpenRootResult::kFailed;
    }
}

bool IdentifyFolder(int folder, FileId& id) {
    struct stat info;
    if (::fstat(folder, &info) != 0) return false;
    id = IdentityOf(info);
    return true;
}

}  // namespace

namespace {

MakeDirectoryResult MakeDirectoryWithMode(const char16_t* path, mode_t mode) {
    std::string native;
    if (!NativePath(path, native) || native.empty()) return MakeDirectoryResult::kFailed;
    if (::mkdir(native.c_str(), mode) == 0) return MakeDirectoryResult::kCreated;
    return errno == EEXIST ? MakeDirectoryResult::kAlreadyExists : MakeDirectoryResult::kFailed;
}

}  // namespace

MakeDirectoryResult MakeDirectory(const char16_t* path) {
    return MakeDirectoryWithMode(path, 0777);
}

bool ReadFolderStanding(DirectoryHandle folder, FolderStanding& standing) {
    struct stat info;
    if (folder == kInvalidDirectory || ::fstat(folder, &info) != 0) return false;
    standing = {S_ISDIR(info.st_mode), info.st_uid, static_cast<uint32_t>(info.st_mode & 07777)};
    return true;
}

void LearnFolderTrust() {
    LearnPrivateGroups();
}

FolderTrust TrustBelowChosenRoot() {
    return ::geteuid() == 0 ? FolderTrust::kOwnersOnly : FolderTrust::kAny;
}

bool RemoveEmptyFolder(const char16_t* path) {
    std::string native;
    return NativePath(path, native) && !native.empty() && ::rmdir(native.c_str()) == 0;
}

uint32_t GetCurrentDirectory(char16_t* buffer, uint32_t units) {
    char native[PATH_MAX];
    if (buffer == nullptr || ::getcwd(native, sizeof native) == nullptr) return 0;
    return Utf8ToUtf16Buffer(native, buffer, units);
}

void CloseDirectory(DirectoryHandle folder) {
    if (folder != kInvalidDirectory) ::close(folder);
}

bool MakeCurrent(DirectoryHandle folder) {
    return folder != kInvalidDirectory && ::fchdir(folder) == 0;
}

OpenRootResult OpenRootFolder(const char16_t* path, RootTrust trust, DirectoryHandle& root) {
    root = kInvalidDirectory;
    std::string native;
    const bool owned = trust == RootTrust::kOwned;
    const MakeDirectoryResult made = MakeDirectoryWithMode(
        path, NewFolderMode(owned ? FolderTrust::kOwnersOnly : FolderTrust::kAny));
    if (made == MakeDirectoryResult::kFailed || !NativePath(path, native)) {
        return OpenRootResult::kFailed;
    }
    if (owned) return OpenOwnedRoot(native, root);
    root = OpenRetrying(native.c_str(), kFolderFlags);
    return root < 0 ? OpenRootResult::kFailed : OpenRootResult::kOpened;
}

EnterResult EnterFolderBelow(DirectoryHandle root, const char16_t* const* components,
                             uint32_t count, DirectoryHandle& entered, bool createLast) {
    entered = kInvalidDirectory;
    Descriptor folder(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (folder.get() < 0) return EnterResult::kFailed;
    std::string native;
    for (uint32_t i = 0; i < count; ++i) {
        int opened = -1;
        if (!NativePath(components[i], native)) return EnterResult::kFailed;
        const EnterResult result = OpenComponent(folder.get(), native, createLast && i + 1 == count,
                                                 FolderTrust::kAny, opened);
        if (result != EnterResult::kEntered) return result;
        folder.Reset(opened);
    }
    if (::fchdir(folder.get()) != 0) return EnterResult::kFailed;
    entered = folder.Release();
    return EnterResult::kEntered;
}

// The walk's chain: the names and identities of the folders from the root to the one entered
// last, and that last one open. Going back up is an open of ".." that must find the very folder
// the chain holds there; anything else (a folder moved meanwhile) makes the walk start again
// from the root. Only the deepest folder stays open, however deep the tree goes.
class FolderChain {
  public:
    FolderChain(int root, FolderTrust trust, FileId rootId)
        : root_(root), trust_(trust), rootId_(rootId) {}

    EnterResult Enter(const std::vector<std::string>& names, uint32_t& reached, bool createLast) {
        size_t common = 0;
        while (common < names.size() && common < levels_.size() &&
               levels_[common].name == names[common]) {
            ++common;
        }
        if (!ClimbTo(common)) common = 0;
        reached = static_cast<uint32_t>(common);
        for (size_t i = common; i < names.size(); ++i) {
            const EnterResult result = Descend(names[i], createLast && i + 1 == names.size());
            if (result != EnterResult::kEntered) return result;
            ++reached;
        }
        return ::fchdir(current_.get()) == 0 ? EnterResult::kEntered : EnterResult::kFailed;
    }

    int current() const { return current_.get(); }
    void Forget() {
        current_.Reset(-1);
        levels_.clear();
    }

  private:
    struct Level {
        std::string name;
        FileId id;
    };

    // Leaves the chain depth folders deep; false when it had to start again from the root.
    bool ClimbTo(size_t depth) {
        if (current_.get() >= 0) {
            while (levels_.size() > depth && StepUp()) levels_.pop_back();
            if (levels_.size() == depth) return true;
        }
        levels_.clear();
        current_.Reset(::fcntl(root_, F_DUPFD_CLOEXEC, 0));
        return depth == 0;
    }

    bool StepUp() {
        Descriptor parent(OpenAtRetrying(current_.get(), "..", kFolderFlags | O_NOFOLLOW));
        FileId id;
        const FileId& expected = levels_.size() >= 2 ? levels_[levels_.size() - 2].id : rootId_;
        if (parent.get() < 0 || !IdentifyFolder(parent.get(), id) || !(id == expected)) {
            return false;
        }
        current_.Reset(parent.Release());
        return true;
    }

    EnterResult Descend(const std::string& name, bool last) {
        if (current_.get() < 0) return EnterResult::kFailed;
        int opened = -1;
        EnterResult result = OpenComponent(current_.get(), name, last, trust_, opened);
        Descriptor folder(opened);
        if (result == EnterResult::kEntered) result = JudgeOpened(folder.get(), trust_);
        FileId id;
        if (result == EnterResult::kEntered && !IdentifyFolder(folder.get(), id)) {
            result = EnterResult::kFailed;
        }
        if (result != EnterResult::kEntered) return result;
        levels_.push_back({name, id});
        current_.Reset(folder.Release());
        return EnterResult::kEntered;
    }

    int root_;
    FolderTrust trust_;
    FileId rootId_;
    std::vector<Level> levels_;
    Descriptor current_;
};

FolderWalk::FolderWalk() = default;
FolderWalk::~FolderWalk() = default;

bool FolderWalk::Start(DirectoryHandle root, FolderTrust trust) {
    chain_.reset();
    FileId rootId;
    if (root == kInvalidDirectory || !IdentifyFolder(static_cast<int>(root), rootId)) return false;
    if (trust == FolderTrust::kOwnersOnly) LearnPrivateGroups();
    chain_ = std::make_unique<FolderChain>(static_cast<int>(root), trust, rootId);
    return true;
}

EnterResult FolderWalk::Enter(const char16_t* const* components, uint32_t count, uint32_t& reached,
                              bool createLast) {
    return EnterConverted<std::string>(chain_.get(), components, count, reached, NativePath,
                                       createLast);
}

DirectoryHandle FolderWalk::current() const {
    return chain_ && chain_->current() >= 0 ? chain_->current() : kInvalidDirectory;
}

void FolderWalk::Close() {
    chain_.reset();
}

ReplacingFile::ReplacingFile() = default;
ReplacingFile::~ReplacingFile() = default;

bool ReplacingFile::Create(DirectoryHandle folder, const char16_t* name) {
    std::string native;
    replacement_ = std::make_unique<FileReplacement>();
    return NativePath(name, native) && !native.empty() && replacement_->Begin(folder, native);
}

FileHandle ReplacingFile::handle() const {
    return replacement_ && replacement_->fd() >= 0 ? replacement_->fd() : kInvalidHandle;
}

bool ReplacingFile::Identify(FileId& id) const {
    struct stat info;
    if (handle() == kInvalidHandle || ::fstat(handle(), &info) != 0) return false;
    id = IdentityOf(info);
    return true;
}

namespace {

mode_t ModeOfExtracted(bool readOnly, uint32_t keptExecute, bool ownerOnlyWrite) {
    return ExtractedFileMode(readOnly, keptExecute, CurrentUmask()) &
           ~static_cast<mode_t>(ownerOnlyWrite ? 022 : 0);
}

ReplacingFile::Outcome OutcomeOfRename(bool renamed) {
    if (renamed) return ReplacingFile::Outcome::kDone;
    return errno == EISDIR ? ReplacingFile::Outcome::kFolderInTheWay
                           : ReplacingFile::Outcome::kFailed;
}

}  // namespace

ReplacingFile::Outcome ReplacingFile::Commit(bool readOnly, uint32_t keptExecute,
                                             bool ownerOnlyWrite) {
    if (handle() == kInvalidHandle) return Outcome::kFailed;
    return OutcomeOfRename(
        replacement_->Commit(ModeOfExtracted(readOnly, keptExecute, ownerOnlyWrite), false));
}

bool ReplacingFile::Park(bool readOnly, uint32_t keptExecute, bool ownerOnlyWrite) {
    return handle() != kInvalidHandle &&
           replacement_->Park(ModeOfExtracted(readOnly, keptExecute, ownerOnlyWrite));
}

ReplacingFile::Outcome ReplacingFile::CommitParked(DirectoryHandle folder) {
    if (!replacement_) return Outcome::kFailed;
    return OutcomeOfRename(replacement_->CommitParked(static_cast<int>(folder)));
}

void ReplacingFile::RemoveParked(DirectoryHandle folder) {
    if (replacement_) replacement_->RemoveParked(static_cast<int>(folder));
}

void ReplacingFile::Abandon() {
    if (replacement_) replacement_->Abandon();
}

NameHolds WhatNameHolds(DirectoryHandle folder, const char16_t* name) {
    std::string native;
    struct stat info;
    if (!NativePath(name, native) || native.empty() ||
        ::fstatat(static_cast<int>(folder), native.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return NameHolds::kNothing;
    }
    return S_ISDIR(info.st_mode) ? NameHolds::kFolder : NameHolds::kOther;
}

std::u16string FoldedName(std::u16string_view name) {
    return std::u16string(name);
}

std::u16string NewTemporaryName() {
    std::u16string wide;
    Utf8ToUtf16(TemporaryName(), wide);
    return wide;
}

bool RenameFolderEntry(DirectoryHandle folder, const char16_t* from, const char16_t* to) {
    std::string source, target;
    const int at = static_cast<int>(folder);
    // A plain rename would take the place of an empty folder there; nothing may be replaced.
    return NativePath(from, source) && NativePath(to, target) &&
           ::renameat2(at, source.c_str(), at, target.c_str(), RENAME_NOREPLACE) == 0;
}

bool RemoveEntry(DirectoryHandle folder, const char16_t* name, bool isFolder) {
    std::string native;
    return NativePath(name, native) && !native.empty() &&
           ::unlinkat(static_cast<int>(folder), native.c_str(), isFolder ? AT_REMOVEDIR : 0) == 0;
}

uint32_t WriteToFile(FileHandle file, const void* buffer, uint32_t count) {
    if (file == kInvalidHandle || buffer == nullptr) return 0;
    // A short count tells the caller the write failed; how far it got does not matter then.
    return WriteFully(file, buffer, count) ? count : 0;
}

bool IsPlainNameHere(std::u16string_view) {
    return true;
}

}  // namespace winqor
