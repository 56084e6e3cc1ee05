#include <dirent.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "platform/temporary_folder.h"

#include "platform/posix/support.h"

namespace winqor {

using namespace posix;
namespace {

constexpr int kMaxRemovalDepth = 256;

bool AllowsPrograms(const char* folder) {
    struct stat info;
    struct statvfs volume;
    return folder != nullptr && folder[0] == '/' && ::stat(folder, &info) == 0 &&
           S_ISDIR(info.st_mode) && ::statvfs(folder, &volume) == 0 &&
           (volume.f_flag & ST_NOEXEC) == 0;
}

// false, with reason set to the entry (path) and the system's reason.
bool Refused(const std::string& path, std::string& reason) {
    reason = path + " (" + SystemReason(errno) + ")";
    return false;
}

// Empties the folder name of parent, then removes it; a file or link is removed itself. path
// names the entry for the reason.
bool RemoveBelow(int parent, const std::string& name, const std::string& path, int depth,
                 std::string& reason) {
    const int fd =
        OpenAtRetrying(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {  // not a folder (or a link to one)
        return ::unlinkat(parent, name.c_str(), 0) == 0 || Refused(path, reason);
    }
    DIR* folder = ::fdopendir(fd);
    if (folder == nullptr) {
        Refused(path, reason);
        ::close(fd);
        return false;
    }
    bool removed = depth < kMaxRemovalDepth;
    if (!removed) reason = path + " (more than " + std::to_string(kMaxRemovalDepth) + " levels)";
    while (const dirent* entry = removed ? ::readdir(folder) : nullptr) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        removed =
            RemoveBelow(::dirfd(folder), entryName, path + "/" + entryName, depth + 1, reason);
    }
    ::closedir(folder);
    return removed &&
           (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 || Refused(path, reason));
}

}  // namespace

bool MakePrivateTemporaryFolder(std::u16string& path, std::string& reason) {
    const char* const candidates[] = {std::getenv("TMPDIR"), "/tmp", "/var/tmp"};
    std::string why =
        "none of $TMPDIR, /tmp and /var/tmp is a folder that allows starting programs";
    for (const char* candidate : candidates) {
        if (!AllowsPrograms(candidate)) continue;
        std::string pattern = std::string(candidate) + "/winqor-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) return Utf8ToUtf16(pattern, path);
        why =
            "cannot make a folder in " + std::string(candidate) + " (" + SystemReason(errno) + ")";
    }
    reason = why;
    return false;
}

// Linux removes a current directory all the same; the process just stands in a removed one.
bool RemoveTree(const std::u16string& path, std::string& reason) {
    std::string native;
    if (!NativePath(path.c_str(), native) || native.empty()) {
        reason = "not a path";
        return false;
    }
    return RemoveBelow(AT_FDCWD, native, native, 0, reason);
}

void AdoptDescendants() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

void WaitForDescendants() {
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
}

}  // namespace winqor
