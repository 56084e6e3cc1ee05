#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/file_fixtures.h"
#include "support/test_support.h"

namespace winqor::test {

bool MakePipe(const std::filesystem::path& at) {
    return ::mkfifo(at.c_str(), 0666) == 0;
}

bool MakeFullDevice(const std::filesystem::path& at) {
    return ::mknod(at.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0;
}

bool GiveToNobody(const std::filesystem::path& at) {
    return ::lchown(at.c_str(), 65534, 65534) == 0;
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

uint32_t CreationMask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool Facts(const std::filesystem::path& at, FileFacts& facts) {
    struct stat info;
    if (::lstat(at.c_str(), &info) != 0) return false;
    facts = {S_ISREG(info.st_mode),
             static_cast<uint64_t>(info.st_nlink),
             info.st_uid == ::geteuid(),
             static_cast<uint32_t>(info.st_mode & 07777),
             static_cast<uint64_t>(info.st_dev),
             static_cast<uint64_t>(info.st_ino)};
    return true;
}

int OpenPipeReader(const std::filesystem::path& at) {
    return ::open(at.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

long ReadNow(int reader) {
    char buffer[64];
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    return got < 0 ? 0 : static_cast<long>(got);
}

void ClosePipeReader(int reader) {
    if (reader >= 0) ::close(reader);
}

void SetEnvironment(const char* name, const char* value) {
    if (value == nullptr) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value, 1);
    }
}

void RemoveTemporaryTree(const std::filesystem::path& root) {
    std::error_code ignored;
    // Read-only folders left by a test would stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::permissions(root, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root, ignored);
}

}  // namespace winqor::test
