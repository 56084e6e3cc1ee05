#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/free_space.h"

namespace winqor {

bool FreeBytesFor(DirectoryHandle folder, uint64_t& bytes) {
    struct statvfs filesystem = {};
    if (folder == kInvalidDirectory || ::fstatvfs(static_cast<int>(folder), &filesystem) != 0) {
        return false;
    }
    const uint64_t blocks = ::geteuid() == 0 ? filesystem.f_bfree : filesystem.f_bavail;
    const uint64_t blockBytes = filesystem.f_frsize != 0 ? filesystem.f_frsize : filesystem.f_bsize;
    // A file system that counts no blocks (some virtual ones) cannot say what it holds.
    if (filesystem.f_blocks == 0 || blockBytes == 0) return false;
    bytes = blocks > UINT64_MAX / blockBytes ? UINT64_MAX : blocks * blockBytes;
    return true;
}

}  // namespace winqor
