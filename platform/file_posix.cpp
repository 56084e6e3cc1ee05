#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file.h"
#include "platform/limits.h"
#include "platform/text.h"

#include "platform/posix_support.h"

namespace winqor {

using namespace posix;

static_assert(kMaxPath == PATH_MAX, "path buffers are sized by the platform's own limit");

FileHandle OpenForRead(const char16_t* path) {
    std::string native;
    if (!NativePath(path, native)) return kInvalidHandle;
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidHandle : fd;
}

uint32_t ReadBytes(FileHandle file, void* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0 || file == kInvalidHandle) return 0;
    auto* bytes = static_cast<char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        ssize_t got = ::read(file, bytes + total, count - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return 0;
        if (got == 0) break;
        total += static_cast<uint32_t>(got);
    }
    return total;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidHandle) ::close(file);
}

int64_t FileSize(FileHandle file) {
    struct stat info;
    if (file == kInvalidHandle || ::fstat(file, &info) != 0) return -1;
    return info.st_size;
}

}  // namespace winqor
