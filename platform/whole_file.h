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

// Appends whatever follows the bytes already read: a file that grew after it was looked at.
// A small buffer takes it first, so that out grows only by what is there, never past limit
// bytes from start.
template <typename Read>
ReadOutcome ReadGrowth(const Read& read, size_t start, uint64_t limit, std::vector<uint8_t>& out) {
    constexpr size_t kChunkBytes = 1 << 14;
    uint8_t chunk[kChunkBytes];
    for (;;) {
        const int64_t got = read(chunk, sizeof chunk);
        if (got < 0) return ReadOutcome::kFailed;
        if (got == 0) return ReadOutcome::kRead;
        if (out.size() - start + static_cast<uint64_t>(got) > limit) return ReadOutcome::kTooLarge;
        out.insert(out.end(), chunk, chunk + got);
    }
}

// The reading of an opened file on each system. read(buffer, count) gives the bytes read,
// fewer only at the end, or -1. The expected bytes go straight into out, then anything the
// file grew by since it was looked at (ReadGrowth). Unless the answer is kRead, out is left as
// it was.
template <typename Read>
ReadOutcome ReadExpectedAndGrowth(Read read, uint64_t expected, uint64_t limit,
                                  std::vector<uint8_t>& out) {
    const size_t start = out.size();
    out.resize(start + expected);
    const int64_t got = read(out.data() + start, expected);
    ReadOutcome outcome = got < 0 ? ReadOutcome::kFailed : ReadOutcome::kRead;
    if (got >= 0) out.resize(start + static_cast<uint64_t>(got));
    if (got >= 0 && static_cast<uint64_t>(got) == expected) {
        outcome = ReadGrowth(read, start, limit, out);
    }
    if (outcome != ReadOutcome::kRead) out.resize(start);
    return outcome;
}

}  // namespace winqor
