#include "format/record_stream.h"

#include "platform/little_endian.h"

namespace winqor {
namespace {

char16_t UnitAt(const uint8_t* name, uint32_t index) {
    return static_cast<char16_t>(name[2 * index] | name[2 * index + 1] << 8);
}

}  // namespace

bool ReadRecord(const uint8_t* data, uint32_t available, RecordView& record) {
    if (data == nullptr || available < kEntryHeaderBytes) return false;
    record.nameLength = ReadLe32(data + entry_offset::kNameLength);
    record.attributes = ReadLe32(data + entry_offset::kAttributes);
    record.size = ReadLe32(data + entry_offset::kSize);
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

bool CopyRecordName(const RecordView& record, char16_t* out, uint32_t units) {
    if (out == nullptr || record.nameUnits >= units) return false;
    for (uint32_t i = 0; i < record.nameUnits; ++i) out[i] = UnitAt(record.name, i);
    out[record.nameUnits] = 0;
    return true;
}

}  // namespace winqor
