// Reading a folder tree from the host system, for writers. Paths and names are the system's
// own bytes: UTF-8 by convention on Linux, but a name there may be any bytes but '/' and NUL,
// so the caller decides what it accepts. (A system whose names are UTF-16 converts to UTF-8.)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"

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
    uint64_t size = 0;           // bytes, for files
    bool ownerWritable = false;  // the owner may write it
    // Its permission bits (mode & 0777), on a system that has them.
    std::optional<uint32_t> permissions;
    int64_t modifiedSeconds = 0;  // since 1970-01-01 00:00 UTC; negative before
    uint32_t modifiedNanoseconds = 0;
    FileId id;
};

enum class ReadOutcome { kRead, kTooLarge, kFailed };

// A folder held open, so that what lies below it is reached from it and never again through a
// path: a folder on the way that is swapped for a link later cannot redirect the reader.
class FolderHandle {
  public:
    FolderHandle() = default;
    ~FolderHandle() { Close(); }
    FolderHandle(FolderHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, kInvalidHandle)) {}
    FolderHandle& operator=(FolderHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = std::exchange(other.handle_, kInvalidHandle);
        }
        return *this;
    }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool IsOpen() const { return handle_ != kInvalidHandle; }

    // Opens the folder at path; links on the way and at path itself are followed, since the
    // caller chose it. false with the system's reason.
    bool Open(const std::string& path, std::string& reason);

    // Opens the subfolder name of parent without following a link. false, with a reason, when
    // name is now a link or no folder, or is another folder than expected (when given).
    bool OpenChild(const FolderHandle& parent, const std::string& name,
                   const std::optional<FileId>& expected, std::string& reason);

    // The entries except "." and "..", in no particular order, described as they are (a link
    // is described, not followed). false with the system's reason.
    bool List(std::vector<FolderEntry>& entries, std::string& reason) const;

    // Appends the content of the regular file name in this folder to out. A link or anything
    // but a regular file is refused without being read (a pipe would block). kTooLarge, with
    // nothing appended, when the file holds more than limit bytes.
    ReadOutcome ReadFile(const std::string& name, uint64_t limit, std::vector<uint8_t>& out,
                         std::string& reason) const;

  private:
    void Close();

    FileHandle handle_ = kInvalidHandle;
};

// Describes what path names, following a link there only when followLink. false when
// nothing is there or it cannot be looked at.
bool DescribePath(const std::string& path, bool followLink, FolderEntry& entry);

// Joins a folder path and a name with the system's separator.
std::string JoinNativePath(const std::string& folder, const std::string& name);

}  // namespace winqor
