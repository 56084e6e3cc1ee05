// Whole files named by a path: read in one piece up to a limit, and replaced in one piece.
// Paths are the system's own bytes, as in tree_reading.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tree_reading.h"

namespace winqor {

// Like FolderHandle::ReadFile for a file the caller named by path: links on the way to it are
// followed, and anything but a regular file is refused.
ReadOutcome ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& out,
                          std::string& reason);

// Writes bytes as the new content of path without ever leaving a partly written file there:
// the bytes go to a new file in the same folder, reach the disk, and are then renamed over
// path (a link at path is replaced, not written through). The new file's mode is 0666 less
// the umask. On failure path is unchanged and the new file is removed.
bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& reason);

}  // namespace winqor
