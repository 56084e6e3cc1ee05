// The room left on the file system that holds a folder, for the check every extraction makes
// before its first write.
#pragma once

#include <cstdint>

#include "platform/tree_writing.h"

namespace winqor {

// The bytes the running user may still write on the file system that holds folder: on Linux
// the blocks free to unprivileged users (all free blocks for root, who may use the reserve),
// on Windows the caller's free bytes (quotas applied). false when the system cannot tell.
bool FreeBytesFor(DirectoryHandle folder, uint64_t& bytes);

}  // namespace winqor
