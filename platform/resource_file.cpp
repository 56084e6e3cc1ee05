// The parts of ResourceFile that every system shares: the table read through ReadAt, and the
// entries looked up and copied. Opening, reading at an offset and mapping are per system.
// Also the resource calls that are the same everywhere: a loaded resource is its bytes, and a
// handle is the entry itself.
#include "platform/resources.h"

namespace winqor {
namespace {

// A table larger than this is taken as damaged rather than read into memory.
constexpr uint64_t kMaxTableBytes = 1 << 20;

}  // namespace

bool ResourceFile::ReadTable() {
    table_ = {};
    table_.programBytes = size_;
    uint8_t tail[kResourceTrailerBytes];
    const uint64_t tailBytes = size_ < kResourceTrailerBytes ? size_ : kResourceTrailerBytes;
    if (!ReadAt(size_ - tailBytes, tail, tailBytes)) return false;
    TableLocation where;
    status_ = LocateTable(std::span<const uint8_t>(tail, tailBytes), size_, where);
    if (status_ != TableStatus::kValid) return true;
    if (where.tableBytes > kMaxTableBytes) {
        status_ = TableStatus::kCorrupt;
        return true;
    }
    std::vector<uint8_t> records(where.tableBytes);
    if (!ReadAt(where.tableOffset, records.data(), records.size())) return false;
    status_ = ParseEntries(records, where, table_);
    return true;
}

const ResourceEntry* ResourceFile::Find(std::string_view type, uint32_t id) const {
    return FindEntry(table_, type, id);
}

bool ResourceFile::Read(const ResourceEntry& entry, uint64_t maxBytes,
                        std::vector<uint8_t>& bytes) const {
    bytes.clear();
    if (file_ == kInvalidHandle || entry.offset > size_ || entry.size > size_ - entry.offset) {
        return false;
    }
    bytes.resize(entry.size < maxBytes ? entry.size : maxBytes);
    return ReadAt(entry.offset, bytes.data(), bytes.size());
}

const uint8_t* LockResource(const void* loaded) {
    return static_cast<const uint8_t*>(loaded);
}

uint64_t SizeofResource(ResourceHandle resource) {
    return resource == nullptr ? 0 : resource->size;
}

}  // namespace winqor
