#include "image/resource_table.h"

#include <algorithm>
#include <cstring>

#include "base/little_endian.h"

namespace winqor {
namespace {

namespace trailer_offset {
constexpr size_t kVersion = 0;
constexpr size_t kEntryCount = 4;
constexpr size_t kTableOffset = 8;
constexpr size_t kMagic = 16;
}  // namespace trailer_offset

namespace record_offset {
constexpr size_t kRecordBytes = 0;
constexpr size_t kId = 4;
constexpr size_t kLanguage = 8;
constexpr size_t kNameBytes = 12;
constexpr size_t kDataOffset = 16;
constexpr size_t kDataSize = 24;
}  // namespace record_offset

// Parses the record at the start of rest; returns its length, or 0 when it does not hold.
uint64_t ParseRecord(std::span<const uint8_t> rest, uint64_t tableOffset, ResourceEntry& entry) {
    if (rest.size() < kResourceRecordFixedBytes) return 0;
    const uint8_t* p = rest.data();
    const uint64_t recordBytes = ReadLe32(p + record_offset::kRecordBytes);
    const uint64_t nameBytes = ReadLe32(p + record_offset::kNameBytes);
    if (recordBytes < kResourceRecordFixedBytes || recordBytes > rest.size()) return 0;
    if (nameBytes == 0 || nameBytes > kMaxResourceTypeBytes ||
        nameBytes > recordBytes - kResourceRecordFixedBytes) {
        return 0;
    }
    entry.id = ReadLe32(p + record_offset::kId);
    entry.language = ReadLe32(p + record_offset::kLanguage);
    entry.offset = ReadLe64(p + record_offset::kDataOffset);
    entry.size = ReadLe64(p + record_offset::kDataSize);
    // The data must lie before the table.
    if (entry.offset > tableOffset || entry.size > tableOffset - entry.offset) return 0;
    entry.type.assign(reinterpret_cast<const char*>(p + kResourceRecordFixedBytes), nameBytes);
    return recordBytes;
}

uint64_t ProgramBytes(const ResourceTable& table, uint64_t tableOffset) {
    uint64_t end = tableOffset;
    for (const auto& entry : table.entries) end = std::min(end, entry.offset);
    return end;
}

bool IsValidTypeName(std::string_view type) {
    return !type.empty() && type.size() <= kMaxResourceTypeBytes;
}

bool SameKey(const ResourceEntry& entry, const NewResource& addition) {
    return entry.type == addition.type && entry.id == addition.id &&
           entry.language == addition.language;
}

// Lays out resources after a program image: each one's bytes as it is added, then the table
// of records, then the trailer.
class TableWriter {
  public:
    explicit TableWriter(std::vector<uint8_t>& out) : out_(out) {}

    void Add(std::string_view type, uint32_t id, uint32_t language, std::span<const uint8_t> data) {
        AppendLe32(records_, static_cast<uint32_t>(kResourceRecordFixedBytes + type.size()));
        AppendLe32(records_, id);
        AppendLe32(records_, language);
        AppendLe32(records_, static_cast<uint32_t>(type.size()));
        AppendLe64(records_, out_.size());
        AppendLe64(records_, data.size());
        records_.insert(records_.end(), type.begin(), type.end());
        out_.insert(out_.end(), data.begin(), data.end());
        ++count_;
    }

    void Finish() {
        const uint64_t tableOffset = out_.size();
        out_.insert(out_.end(), records_.begin(), records_.end());
        AppendLe32(out_, kResourceTableVersion);
        AppendLe32(out_, count_);
        AppendLe64(out_, tableOffset);
        out_.insert(out_.end(), std::begin(kResourceTableMagic), std::end(kResourceTableMagic));
    }

  private:
    std::vector<uint8_t>& out_;
    std::vector<uint8_t> records_;
    uint32_t count_ = 0;
};

}  // namespace

TableStatus LocateTable(std::span<const uint8_t> tail, uint64_t fileSize, TableLocation& where) {
    if (fileSize < kResourceTrailerBytes || tail.size() < kResourceTrailerBytes) {
        return TableStatus::kAbsent;
    }
    const uint8_t* trailer = tail.data() + (tail.size() - kResourceTrailerBytes);
    if (std::memcmp(trailer + trailer_offset::kMagic, kResourceTableMagic, 8) != 0) {
        return TableStatus::kAbsent;
    }
    where.version = ReadLe32(trailer + trailer_offset::kVersion);
    where.entryCount = ReadLe32(trailer + trailer_offset::kEntryCount);
    where.tableOffset = ReadLe64(trailer + trailer_offset::kTableOffset);
    const uint64_t trailerStart = fileSize - kResourceTrailerBytes;
    if (where.version == 0 || where.tableOffset > trailerStart) return TableStatus::kCorrupt;
    where.tableBytes = trailerStart - where.tableOffset;
    // Every record takes at least its fixed part and one name byte.
    if (where.entryCount > where.tableBytes / (kResourceRecordFixedBytes + 1)) {
        return TableStatus::kCorrupt;
    }
    return TableStatus::kValid;
}

TableStatus ParseEntries(std::span<const uint8_t> records, const TableLocation& where,
                         ResourceTable& table) {
    table = {};
    if (records.size() != where.tableBytes) return TableStatus::kCorrupt;
    std::vector<ResourceEntry> entries(where.entryCount);
    for (auto& entry : entries) {
        const uint64_t used = ParseRecord(records, where.tableOffset, entry);
        if (used == 0) return TableStatus::kCorrupt;
        records = records.subspan(used);
    }
    if (!records.empty()) return TableStatus::kCorrupt;
    table.entries = std::move(entries);
    table.programBytes = ProgramBytes(table, where.tableOffset);
    return TableStatus::kValid;
}

TableStatus ParseResourceTable(std::span<const uint8_t> file, ResourceTable& table) {
    table = {};
    table.programBytes = file.size();
    TableLocation where;
    const TableStatus located = LocateTable(file, file.size(), where);
    if (located != TableStatus::kValid) {
        if (located == TableStatus::kCorrupt) table.programBytes = 0;
        return located;
    }
    return ParseEntries(file.subspan(where.tableOffset, where.tableBytes), where, table);
}

const ResourceEntry* FindEntry(const ResourceTable& table, std::string_view type, uint32_t id) {
    const ResourceEntry* english = nullptr;
    const ResourceEntry* other = nullptr;
    for (const auto& entry : table.entries) {
        if (entry.type != type || entry.id != id) continue;
        if (entry.language == kLanguageNeutral) return &entry;
        if (entry.language == kLanguageEnglishUs && english == nullptr) english = &entry;
        if (other == nullptr) other = &entry;
    }
    return english != nullptr ? english : other;
}

bool AppendResources(std::span<const uint8_t> file, std::span<const NewResource> additions,
                     std::vector<uint8_t>& out, std::string& reason) {
    ResourceTable existing;
    if (ParseResourceTable(file, existing) == TableStatus::kCorrupt) {
        reason = "the program's resource table is damaged";
        return false;
    }
    if (!std::all_of(additions.begin(), additions.end(),
                     [](const NewResource& addition) { return IsValidTypeName(addition.type); })) {
        reason = "a resource type name must have 1 to 255 bytes";
        return false;
    }
    out.assign(file.begin(), file.begin() + existing.programBytes);
    TableWriter writer(out);
    for (const auto& entry : existing.entries) {
        auto replaced = [&](const NewResource& addition) { return SameKey(entry, addition); };
        if (std::any_of(additions.begin(), additions.end(), replaced)) continue;
        writer.Add(entry.type, entry.id, entry.language, file.subspan(entry.offset, entry.size));
    }
    for (const auto& addition : additions) {
        writer.Add(addition.type, addition.id, addition.language, addition.data);
    }
    writer.Finish();
    return true;
}

bool ReadResourceTable(uint64_t fileSize, const ReadAtFunction& readAt, TableStatus& status,
                       ResourceTable& table) {
    constexpr uint64_t kMaxTableBytes = 1 << 20;
    table = {};
    table.programBytes = fileSize;
    uint8_t tail[kResourceTrailerBytes];
    const uint64_t tailBytes = fileSize < kResourceTrailerBytes ? fileSize : kResourceTrailerBytes;
    if (!readAt(fileSize - tailBytes, tail, tailBytes)) return false;
    TableLocation where;
    status = LocateTable(std::span<const uint8_t>(tail, tailBytes), fileSize, where);
    if (status != TableStatus::kValid) return true;
    if (where.tableBytes > kMaxTableBytes) {
        status = TableStatus::kCorrupt;
        return true;
    }
    std::vector<uint8_t> records(where.tableBytes);
    if (!readAt(where.tableOffset, records.data(), records.size())) return false;
    status = ParseEntries(records, where, table);
    return true;
}

}  // namespace winqor
