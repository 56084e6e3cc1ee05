// Reading a folder tree from the host system, for writers. Paths and names are the system's
// own bytes: UTF-8 by convention on Linux, but a name there may be any bytes but '/' and NUL,
// so the caller decides what it accepts. (A system whose names are UTF-16 converts to UTF-8.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winqor {

enum class EntryKind {
    kFile,  // a regular file
    kFolder,
    kLink,     // a symbolic link, never followed
    kSpecial,  // a device, pipe or socket
};

// Tells two names of the same file apart from two different files.
struct FileId {
    uint64_t device = 0;
    uint64_t node = 0;
    bool operator==(const FileId&) const = default;
};

struct FolderEntry {
    std::string name;
    EntryKind kind = EntryKind::kSpecial;
    uint64_t size = 0;            // bytes, for files
    bool ownerWritable = false;   // the owner may write it
    int64_t modifiedSeconds = 0;  // since 1970-01-01 00:00 UTC; negative before
    uint32_t modifiedNanoseconds = 0;
    FileId id;
};

// The entries of a folder except "." and "..", in no particular order, described as they are
// (a link is described, not followed). A link at path itself is followed only when
// followLink. false with the system's reason when the folder cannot be read.
bool ListFolder(const std::string& path, bool followLink, std::vector<FolderEntry>& entries,
                std::string& reason);

// Describes what path names, following a link there only when followLink. false when
// nothing is there or it cannot be looked at.
bool DescribePath(const std::string& path, bool followLink, FolderEntry& entry);

enum class ReadOutcome { kRead, kTooLarge, kFailed };

// Appends the content of the regular file at path to out. A link or anything but a regular
// file is refused without being opened for reading (a pipe would block). kTooLarge, with
// nothing appended, when the file holds more than limit bytes.
ReadOutcome ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& out,
                          std::string& reason);

// Writes bytes as the new content of path without ever leaving a partly written file there:
// the bytes go to a new file in the same folder, reach the disk, and are then renamed over
// path (a link at path is replaced, not written through). On failure path is unchanged and
// the new file is removed.
bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& reason);

// Joins a folder path and a name with the system's separator.
std::string JoinNativePath(const std::string& folder, const std::string& name);

}  // namespace winqor
