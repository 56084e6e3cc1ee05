// Resources of program files: the table at the end of a file (see resource_table.h) read
// from disk, and the bytes of an entry. The running program reaches its own resources through
// FindResource / LoadResource / LockResource with a null module.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/resource_table.h"
#include "platform/file.h"

namespace winqor {

// One program file opened for its resources. The table is read once by Open; the file is
// mapped read-only on the first Load and stays mapped for the object's life.
class ResourceFile {
  public:
    ResourceFile() = default;
    ResourceFile(const ResourceFile&) = delete;
    ResourceFile& operator=(const ResourceFile&) = delete;
    ~ResourceFile();

    // false when the file cannot be opened or read; a file without a table (or with a
    // damaged one) opens, and status() says which.
    bool Open(const std::string& path);
    TableStatus status() const { return status_; }
    const ResourceTable& table() const { return table_; }
    uint64_t fileSize() const { return size_; }

    // See FindEntry: neutral first, then English (United States), then any other.
    const ResourceEntry* Find(std::string_view type, uint32_t id) const {
        return FindEntry(table_, type, id);
    }
    // The entry's bytes inside the mapping, or null when the file cannot be mapped or no
    // longer holds them (it shrank since Open).
    const uint8_t* Load(const ResourceEntry& entry);
    // A copy of the entry's first maxBytes bytes (all of them when it has fewer), read
    // without mapping, so that an entry claiming more than its reader needs costs nothing;
    // false on a read error.
    bool Read(const ResourceEntry& entry, uint64_t maxBytes, std::vector<uint8_t>& bytes) const {
        bytes.clear();
        if (file_ == kInvalidHandle || entry.offset > size_ || entry.size > size_ - entry.offset) {
            return false;
        }
        bytes.resize(entry.size < maxBytes ? entry.size : maxBytes);
        return ReadAt(entry.offset, bytes.data(), bytes.size());
    }

  private:
    bool ReadTable() {
        return ReadResourceTable(
            size_,
            [this](uint64_t offset, uint8_t* buffer, uint64_t count) {
                return ReadAt(offset, buffer, count);
            },
            status_, table_);
    }
    bool ReadAt(uint64_t offset, uint8_t* buffer, uint64_t count) const;

    FileHandle file_ = kInvalidHandle;
    uint64_t size_ = 0;
    TableStatus status_ = TableStatus::kAbsent;
    ResourceTable table_;
    const uint8_t* mapping_ = nullptr;
};

// The running program's own file (/proc/self/exe), opened on first use and never closed.
// Null when it cannot be opened. On Windows the running program's resources are its PE
// resources: this object stands for them, and the calls below reach them through the system's
// FindResourceW, LoadResource, LockResource and SizeofResource for it as for a null module.
ResourceFile* OwnProgramResources();

// The resource calls of a program. module null means the running program. A handle is the
// entry itself; a loaded resource is its bytes, valid as long as the module is open (for the
// running program: for the life of the process).
using ResourceHandle = const ResourceEntry*;
ResourceHandle FindResource(ResourceFile* module, std::string_view type, uint32_t id);
const void* LoadResource(ResourceFile* module, ResourceHandle resource);
inline const uint8_t* LockResource(const void* loaded) {
    return static_cast<const uint8_t*>(loaded);
}
inline uint64_t SizeofResource(ResourceHandle resource) {
    return resource == nullptr ? 0 : resource->size;
}

// Writes a program file in one piece: a temporary file beside path, made executable (0777
// less the umask), flushed, then renamed over path. false, with the system's reason,
// when any step fails; the temporary file is then removed.
bool WriteProgramFile(const std::string& path, std::span<const uint8_t> bytes, std::string& reason);

}  // namespace winqor
