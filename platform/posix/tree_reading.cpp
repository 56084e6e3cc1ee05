#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/tree_reading.h"

#include "platform/posix/support.h"

namespace winqor {

using namespace posix;
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

EntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::kFile;
    if (S_ISDIR(mode)) return EntryKind::kFolder;
    if (S_ISLNK(mode)) return EntryKind::kLink;
    return EntryKind::kSpecial;
}

void FillEntry(const struct stat& info, FolderEntry& entry) {
    entry.kind = KindOf(info.st_mode);
    entry.size = info.st_size < 0 ? 0 : static_cast<uint64_t>(info.st_size);
    entry.ownerWritable = (info.st_mode & S_IWUSR) != 0;
    entry.permissions = static_cast<uint32_t>(info.st_mode & 0777);
    entry.modifiedSeconds = info.st_mtim.tv_sec;
    entry.modifiedNanoseconds = static_cast<uint32_t>(info.st_mtim.tv_nsec);
    entry.id = IdentityOf(info);
}

bool IsDotOrDotDot(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Reads every entry of an open folder; an entry that vanishes before it is looked at is left
// out, as if the listing had been made a moment later.
bool ReadEntries(DIR* dir, std::vector<FolderEntry>& entries, std::string& reason) {
    const int dirFd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const struct dirent* item = ::readdir(dir);
        if (item == nullptr) break;
        if (IsDotOrDotDot(item->d_name)) continue;
        struct stat info;
        if (::fstatat(dirFd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            reason = SystemReason(errno);
            return false;
        }
        FolderEntry entry;
        entry.name = item->d_name;
        FillEntry(info, entry);
        entries.push_back(std::move(entry));
    }
    if (errno != 0) reason = SystemReason(errno);
    return errno == 0;
}

// Why name in folder could not be opened as a folder without following a link: says what
// stands there now when that is what stopped it.
std::string WhyNotAFolder(int folder, const std::string& name, int error) {
    struct stat info;
    if (error != ELOOP && error != ENOTDIR) return SystemReason(error);
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return SystemReason(error);
    }
    return S_ISLNK(info.st_mode) ? "it is a symbolic link now" : "it is no longer a folder";
}

}  // namespace

void FolderHandle::Close() {
    if (handle_ != kInvalidHandle) ::close(handle_);
    handle_ = kInvalidHandle;
}

bool FolderHandle::Open(const std::string& path, std::string& reason) {
    Close();
    const int fd = OpenRetrying(path.c_str(), kFolderFlags);
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    handle_ = fd;
    return true;
}

bool FolderHandle::OpenChild(const FolderHandle& parent, const std::string& name,
                             const std::optional<FileId>& expected, std::string& reason) {
    Close();
    Descriptor fd(OpenAtRetrying(parent.handle_, name.c_str(), kFolderFlags | O_NOFOLLOW));
    if (fd.get() < 0) {
        reason = WhyNotAFolder(parent.handle_, name, errno);
        return false;
    }
    struct stat info;
    if (::fstat(fd.get(), &info) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    if (expected && IdentityOf(info) != *expected) {
        reason = "it was replaced by another folder";
        return false;
    }
    handle_ = fd.Release();
    return true;
}

bool FolderHandle::List(std::vector<FolderEntry>& entries, std::string& reason) const {
    entries.clear();
    // A descriptor of its own: the listing moves its position, and closedir closes it.
    const int fd = OpenAtRetrying(handle_, ".", kFolderFlags);
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        reason = SystemReason(errno);
        ::close(fd);
        return false;
    }
    return ReadEntries(dir.get(), entries, reason);
}

bool DescribePath(const std::string& path, bool followLink, FolderEntry& entry) {
    struct stat info;
    const int result = followLink ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (result != 0) return false;
    FillEntry(info, entry);
    return true;
}

std::string JoinNativePath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

}  // namespace winqor
