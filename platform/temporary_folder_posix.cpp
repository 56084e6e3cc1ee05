#include <dirent.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "platform/temporary_folder.h"

#include "platform/posix_support.h"

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

// Empties the folder open as fd (which it closes), then removes name from parent.
bool RemoveBelow(int parent, const char* name, int depth) {
    const int fd = OpenAtRetrying(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return ::unlinkat(parent, name, 0) == 0;  // not a folder (or a link to one)
    DIR* folder = ::fdopendir(fd);
    if (folder == nullptr) {
        ::close(fd);
        return false;
    }
    bool removed = depth < kMaxRemovalDepth;
    while (const dirent* entry = removed ? ::readdir(folder) : nullptr) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        removed = RemoveBelow(::dirfd(folder), entryName.c_str(), depth + 1);
    }
    ::closedir(folder);
    return removed && ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

}  // namespace

bool MakePrivateTemporaryFolder(std::u16string& path) {
    const char* const candidates[] = {std::getenv("TMPDIR"), "/tmp", "/var/tmp"};
    for (const char* candidate : candidates) {
        if (!AllowsPrograms(candidate)) continue;
        std::string pattern = std::string(candidate) + "/winqor-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) return Utf8ToUtf16(pattern, path);
    }
    return false;
}

// Linux removes a current directory all the same; the process just stands in a removed one.
bool RemoveTree(const std::u16string& path) {
    std::string native;
    return NativePath(path.c_str(), native) && !native.empty() &&
           RemoveBelow(AT_FDCWD, native.c_str(), 0);
}

void AdoptDescendants() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

void WaitForDescendants() {
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
}

}  // namespace winqor
