#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/folders.h"
#include "platform/text.h"

#include "platform/posix_support.h"

namespace winqor {

using namespace posix;
namespace {

int OpenFolderNoFollow(int parent, const std::string& name) {
    return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

MakeDirectoryResult MakeDirectory(const char16_t* path) {
    std::string native;
    if (!NativePath(path, native) || native.empty()) return MakeDirectoryResult::kFailed;
    if (::mkdir(native.c_str(), 0777) == 0) return MakeDirectoryResult::kCreated;
    return errno == EEXIST ? MakeDirectoryResult::kAlreadyExists : MakeDirectoryResult::kFailed;
}

bool ChangeDirectory(const char16_t* path) {
    std::string native;
    return NativePath(path, native) && !native.empty() && ::chdir(native.c_str()) == 0;
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

EnterResult EnterFolderBelow(const char16_t* root, const char16_t* const* components,
                             uint32_t count) {
    std::string native;
    if (!NativePath(root, native)) return EnterResult::kFailed;
    Descriptor folder(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return EnterResult::kFailed;
    for (uint32_t i = 0; i < count; ++i) {
        int opened = -1;
        if (!NativePath(components[i], native)) return EnterResult::kFailed;
        const EnterResult result = OpenComponent(folder.get(), native, i + 1 == count, opened);
        if (result != EnterResult::kEntered) return result;
        folder.Reset(opened);
    }
    return ::fchdir(folder.get()) == 0 ? EnterResult::kEntered : EnterResult::kFailed;
}

FileHandle CreateFileForWriting(const char16_t* name, bool readOnly) {
    std::string native;
    if (!NativePath(name, native) || native.empty()) return kInvalidHandle;
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                          readOnly ? 0444 : 0666);
    return fd < 0 ? kInvalidHandle : fd;
}

bool ResetFileAttributes(const char16_t* name) {
    std::string native;
    struct stat info;
    if (!NativePath(name, native) || ::lstat(native.c_str(), &info) != 0) return false;
    if (S_ISLNK(info.st_mode)) return ::unlink(native.c_str()) == 0;
    if (!S_ISREG(info.st_mode)) return false;
    // Never follows a link, even one swapped in since the lstat.
    return ::fchmodat(AT_FDCWD, native.c_str(), 0666 & ~CurrentUmask(), AT_SYMLINK_NOFOLLOW) == 0;
}

uint32_t WriteToFile(FileHandle file, const void* buffer, uint32_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    uint32_t total = 0;
    while (file != kInvalidHandle && buffer != nullptr && total < count) {
        const ssize_t written = ::write(file, bytes + total, count - total);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        total += static_cast<uint32_t>(written);
    }
    return total;
}

}  // namespace winqor
