// The resource table that a program file carries at its end: typed, numbered, per-language
// blocks of bytes (the self-extracting archive, the placeholder), found without running or
// understanding the program itself. Pure code: no system calls, usable on any file's bytes.
//
// Layout (all integers little-endian; offsets are absolute, from the start of the file):
//
//   [program image][resource data ...][entry records][trailer]
//
//   Trailer, the last 24 bytes of the file:
//     +0  u32  version      1 today; never 0
//     +4  u32  entryCount   number of entry records
//     +8  u64  tableOffset  offset of the first entry record
//     +16 8    magic        "WQRESTBL" (57 51 52 45 53 54 42 4C)
//   The entry records fill [tableOffset, fileSize - 24) exactly.
//
//   Entry record, 32 bytes and the type name:
//     +0  u32  recordBytes  32 + nameBytes, or more: the record's length
//     +4  u32  id           e.g. 131
//     +8  u32  language     0 neutral, 1033 English (United States), ...
//     +12 u32  nameBytes    length of the type name, 1..255
//     +16 u64  dataOffset   where the entry's bytes start
//     +24 u64  dataSize     how many bytes it has
//     +32      type name    UTF-8 without terminator, e.g. "SETUP_ARCHIVE"; compared exactly
//
//   Every entry's bytes lie before the table (dataOffset + dataSize <= tableOffset), so the
//   table and its trailer can be rewritten without moving them.
//
// Compatibility: the trailer never changes. A later version may only grow entry records at
// their end (recordBytes says by how much), and a reader skips what it does not know, so a
// reader accepts every version from 1 on. Readers refuse version 0.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winqor {

inline constexpr uint8_t kResourceTableMagic[8] = {'W', 'Q', 'R', 'E', 'S', 'T', 'B', 'L'};
inline constexpr uint32_t kResourceTableVersion = 1;
inline constexpr uint32_t kResourceTrailerBytes = 24;
inline constexpr uint32_t kResourceRecordFixedBytes = 32;
inline constexpr uint32_t kMaxResourceTypeBytes = 255;

inline constexpr uint32_t kLanguageNeutral = 0;
inline constexpr uint32_t kLanguageEnglishUs = 1033;

// The self-extracting archive's entry, and the placeholder every built winqor carries.
inline constexpr std::string_view kSetupArchiveType = "SETUP_ARCHIVE";
inline constexpr uint32_t kSetupArchiveId = 131;
inline constexpr uint8_t kSetupArchivePlaceholder[8] = {0x5A, 0xA5, 0xA5, 0x5A,
                                                        0x5A, 0xA5, 0xA5, 0x5A};

struct ResourceEntry {
    std::string type;
    uint32_t id = 0;
    uint32_t language = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
};

struct ResourceTable {
    std::vector<ResourceEntry> entries;
    // Bytes of the file before the first resource or the table: the program itself.
    uint64_t programBytes = 0;
};

enum class TableStatus {
    kValid,
    kAbsent,   // no trailer magic: a file without resources
    kCorrupt,  // the magic is there but something in the table does not hold
};

// Where the trailer says the table is.
struct TableLocation {
    uint32_t version = 0;
    uint32_t entryCount = 0;
    uint64_t tableOffset = 0;
    uint64_t tableBytes = 0;
};

// tail: the file's last min(fileSize, 24) bytes.
TableStatus LocateTable(std::span<const uint8_t> tail, uint64_t fileSize, TableLocation& where);

// records: the bytes [tableOffset, tableOffset + tableBytes) of the file.
TableStatus ParseEntries(std::span<const uint8_t> records, const TableLocation& where,
                         ResourceTable& table);

// Both steps over a whole file's bytes. table is empty unless the result is kValid.
TableStatus ParseResourceTable(std::span<const uint8_t> file, ResourceTable& table);

// The entry of that type and id, languages searched neutral first, then English (United
// States), then any other in table order; null when there is none.
const ResourceEntry* FindEntry(const ResourceTable& table, std::string_view type, uint32_t id);

// Reads a file's table through readAt (offset, buffer, count): false when a read fails;
// otherwise status says whether the file holds a whole table, and table is what it holds. A
// table larger than 1 MiB is taken as damaged rather than read into memory.
using ReadAtFunction = std::function<bool(uint64_t offset, uint8_t* buffer, uint64_t count)>;
bool ReadResourceTable(uint64_t fileSize, const ReadAtFunction& readAt, TableStatus& status,
                       ResourceTable& table);

struct NewResource {
    std::string_view type;
    uint32_t id = 0;
    uint32_t language = 0;
    std::span<const uint8_t> data;
};

// The program image of file with its resources plus additions; an addition replaces an entry
// of the same type, id and language. false, with reason set, when the file's table is
// corrupt or an addition's type name is empty or too long.
bool AppendResources(std::span<const uint8_t> file, std::span<const NewResource> additions,
                     std::vector<uint8_t>& out, std::string& reason);

}  // namespace winqor
