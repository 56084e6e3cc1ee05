#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/limits.h"
#include "base/text.h"
#include "platform/file.h"

#include "platform/posix/support.h"

namespace winqor {

using namespace posix;

static_assert(kMaxPath == PATH_MAX, "path buffers are sized by the platform's own limit");

FileHandle OpenForRead(const char16_t* path) {
    std::string native;
    if (!NativePath(path, native)) return kInvalidHandle;
    const int fd = OpenRetrying(native.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? kInvalidHandle : fd;
}

uint32_t ReadBytes(FileHandle file, void* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0 || file == kInvalidHandle) return 0;
    const int64_t got = ReadFully(file, buffer, count);
    return got < 0 ? 0 : static_cast<uint32_t>(got);
}

FileHandle OpenForAppend(const char16_t* path) {
    std::string native;
    if (!NativePath(path, native) || native.empty()) return kInvalidHandle;
    const int fd = OpenRetrying(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    return fd < 0 ? kInvalidHandle : fd;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidHandle) ::close(file);
}

}  // namespace winqor
