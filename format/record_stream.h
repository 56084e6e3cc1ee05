// The record stream of a decoded payload: directory groups, each a directory record
// followed by the file records of that directory. Every record starts with a 32-byte header.
#pragma once

#include <cstdint>

namespace winqor {

inline constexpr uint32_t kEntryHeaderBytes = 32;

namespace entry_offset {
inline constexpr uint32_t kHeaderLength = 0;  // 32 + nameLength; never read
inline constexpr uint32_t kNameLength = 4;    // bytes of UTF-16 name, terminator included
inline constexpr uint32_t kAttributes = 8;    // file records only
inline constexpr uint32_t kSize = 12;         // group length, or a file's content bytes
inline constexpr uint32_t kFileTime = 16;     // FILETIME; never read
inline constexpr uint32_t kReserved = 24;     // 8 bytes, zero unless a file's permission is kept
}  // namespace entry_offset

// A file record may keep the permission bits its file had when it was packed, in bytes that
// other readers ignore: reserved[0..1] = 'P' 'X', reserved[2..3] = a little-endian u16 of
// mode & 0777, reserved[4..7] = 0. Any other first two bytes mean no permission was kept.
inline constexpr uint8_t kPermissionTag[2] = {'P', 'X'};
inline constexpr uint32_t kPermissionBits = 0777;
inline constexpr uint32_t kExecuteBits = 0111;  // owner, group, others

inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeArchive = 0x20;
inline constexpr uint32_t kAttributeNormal = 0x80;

}  // namespace winqor

namespace winqor {

// A record's header fields and where its name lies; the name is not copied.
struct RecordView {
    uint32_t nameLength = 0;
    uint32_t attributes = 0;
    uint32_t size = 0;
    // The permission bits a tagged record kept (within 0777); meaningful for file records.
    bool hasPermissions = false;
    uint32_t permissions = 0;
    const uint8_t* name = nullptr;  // UTF-16LE, nameLength bytes
    uint32_t nameUnits = 0;         // units before the first zero unit
    // The first zero unit is the name's last unit: nothing hides behind the terminator.
    bool terminatorIsLast = false;
};

// Reads the record at data. False when its header or name does not lie within available
// bytes, or no zero unit ends the name within its nameLength bytes.
bool ReadRecord(const uint8_t* data, uint32_t available, RecordView& record);

// Writes the permission tag with mode & 0777 into the reserved bytes of a record's header.
void WritePermissions(uint8_t* header, uint32_t mode);

// Copies the name (without its terminator) into out, terminated; false when it does not fit.
bool CopyRecordName(const RecordView& record, char16_t* out, uint32_t units);

// Bytes the record's header and name take.
inline uint64_t RecordHeadBytes(const RecordView& record) {
    return static_cast<uint64_t>(kEntryHeaderBytes) + record.nameLength;
}

}  // namespace winqor
