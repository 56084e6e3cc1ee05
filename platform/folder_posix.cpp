#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/folder.h"

#include "platform/posix_support.h"

namespace winqor {

using namespace posix;
namespace {

EntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::kFile;
    if (S_ISDIR(mode)) return EntryKind::kFolder;
    if (S_ISLNK(mode)) return EntryKind::kLink;
    return EntryKind::kSpecial;
}

void Describe(const struct stat& info, FolderEntry& entry) {
    entry.kind = KindOf(info.st_mode);
    entry.size = info.st_size < 0 ? 0 : static_cast<uint64_t>(info.st_size);
    entry.ownerWritable = (info.st_mode & S_IWUSR) != 0;
    entry.modifiedSeconds = info.st_mtim.tv_sec;
    entry.modifiedNanoseconds = static_cast<uint32_t>(info.st_mtim.tv_nsec);
    entry.id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
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
        Describe(info, entry);
        entries.push_back(std::move(entry));
    }
    if (errno != 0) reason = SystemReason(errno);
    return errno == 0;
}

}  // namespace

bool ListFolder(const std::string& path, bool followLink, std::vector<FolderEntry>& entries,
                std::string& reason) {
    entries.clear();
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = OpenRetrying(path.c_str(), flags);
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
    Describe(info, entry);
    return true;
}

std::string JoinNativePath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

}  // namespace winqor
