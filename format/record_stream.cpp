#include "format/record_stream.h"

#include "base/little_endian.h"

namespace winqor {
namespace {

char16_t UnitAt(const uint8_t* name, uint32_t index) {
    return static_cast<char16_t>(ReadLe16(name + 2 * index));
}

// Only the tag decides: the bits beyond 0777 and the last four bytes are not looked at, so
// no archive can ask for set-user-ID, set-group-ID or sticky.
void ReadPermissions(const uint8_t* header, RecordView& record) {
    const uint8_t* reserved = header + entry_offset::kReserved;
    record.hasPermissions = reserved[0] == kPermissionTag[0] && reserved[1] == kPermissionTag[1];
    record.permissions = record.hasPermissions ? ReadLe16(reserved + 2) & kPermissionBits : 0;
}

}  // namespace

bool ReadRecord(const uint8_t* data, uint32_t available, RecordView& record) {
    if (data == nullptr || available < kEntryHeaderBytes) return false;
    record.nameLength = ReadLe32(data + entry_offset::kNameLength);
    record.attributes = ReadLe32(data + entry_offset::kAttributes);
    record.size = ReadLe32(data + entry_offset::kSize);
    ReadPermissions(data, record);
    if (record.nameLength > available - kEntryHeaderBytes) return false;
    record.name = data + kEntryHeaderBytes;
    const uint32_t units = record.nameLength / 2;
    for (uint32_t i = 0; i < units; ++i) {
        if (UnitAt(record.name, i) == 0) {
            record.nameUnits = i;
            record.terminatorIsLast = 2 * (i + 1) == record.nameLength;
            return true;
        }
    }
    return false;
}

void WritePermissions(uint8_t* header, uint32_t mode) {
    uint8_t* reserved = header + entry_offset::kReserved;
    reserved[0] = kPermissionTag[0];
    reserved[1] = kPermissionTag[1];
    WriteLe16(reserved + 2, mode & kPermissionBits);
    WriteLe32(reserved + 4, 0);
}

bool CopyRecordName(const RecordView& record, char16_t* out, uint32_t units) {
    if (out == nullptr || record.nameUnits >= units) return false;
    for (uint32_t i = 0; i < record.nameUnits; ++i) out[i] = UnitAt(record.name, i);
    out[record.nameUnits] = 0;
    return true;
}

}  // namespace winqor
