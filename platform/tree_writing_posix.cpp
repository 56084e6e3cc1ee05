#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/text.h"
#include "platform/tree_writing.h"

#include "platform/posix_support.h"

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

// Opens one component below parent, creating it first when it is the last and missing.
EnterResult OpenComponent(int parent, const std::string& name, bool last, int& opened) {
    opened = OpenFolderNoFollow(parent, name);
    if (opened < 0 && errno == ENOENT && last) {
        if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST)
            return EnterResult::kFailed;
        opened = OpenFolderNoFollow(parent, name);
    }
    if (opened >= 0) return EnterResult::kEntered;
    return IsLinkAt(parent, name) ? EnterResult::kLinkRefused : EnterResult::kFailed;
}

// A folder that the running user may trust: a real folder of its own (one this run has just
// created is). Checked through the descriptor, so nothing swapped in after the check counts.
OpenRootResult OpenOwnedRoot(const std::string& path, DirectoryHandle& root) {
    Descriptor folder(OpenRetrying(path.c_str(), kFolderFlags | O_NOFOLLOW));
    if (folder.get() < 0) {
        return IsLinkAt(AT_FDCWD, path) ? OpenRootResult::kLink : OpenRootResult::kFailed;
    }
    struct stat info;
    if (::fstat(folder.get(), &info) != 0) return OpenRootResult::kFailed;
    if (info.st_uid != ::geteuid()) return OpenRootResult::kNotOwned;
    root = folder.Release();
    return OpenRootResult::kOpened;
}

}  // namespace

MakeDirectoryResult MakeDirectory(const char16_t* path) {
    std::string native;
    if (!NativePath(path, native) || native.empty()) return MakeDirectoryResult::kFailed;
    if (::mkdir(native.c_str(), 0777) == 0) return MakeDirectoryResult::kCreated;
    return errno == EEXIST ? MakeDirectoryResult::kAlreadyExists : MakeDirectoryResult::kFailed;
}

bool RemoveEmptyFolder(const char16_t* path) {
    std::string native;
    return NativePath(path, native) && !native.empty() && ::rmdir(native.c_str()) == 0;
}

uint32_t GetCurrentDirectory(char16_t* buffer, uint32_t units) {
    char native[PATH_MAX];
    std::u16string wide;
    if (buffer == nullptr || ::getcwd(native, sizeof native) == nullptr ||
        !Utf8ToUtf16(native, wide) || wide.size() >= units) {
        return 0;
    }
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = 0;
    return static_cast<uint32_t>(wide.size());
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
    const MakeDirectoryResult made = MakeDirectory(path);
    if (made == MakeDirectoryResult::kFailed || !NativePath(path, native)) {
        return OpenRootResult::kFailed;
    }
    if (trust == RootTrust::kOwned) return OpenOwnedRoot(native, root);
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
        const EnterResult result =
            OpenComponent(folder.get(), native, createLast && i + 1 == count, opened);
        if (result != EnterResult::kEntered) return result;
        folder.Reset(opened);
    }
    if (::fchdir(folder.get()) != 0) return EnterResult::kFailed;
    entered = folder.Release();
    return EnterResult::kEntered;
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
    id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return true;
}

ReplacingFile::Outcome ReplacingFile::Commit(bool readOnly, uint32_t keptExecute) {
    if (handle() == kInvalidHandle) return Outcome::kFailed;
    const mode_t mode = ExtractedFileMode(readOnly, keptExecute, CurrentUmask());
    if (replacement_->Commit(mode, false)) return Outcome::kDone;
    return errno == EISDIR ? Outcome::kFolderInTheWay : Outcome::kFailed;
}

void ReplacingFile::Abandon() {
    if (replacement_) replacement_->Abandon();
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
