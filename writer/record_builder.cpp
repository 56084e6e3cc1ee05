#include "writer/record_builder.h"

#include "format/record_stream.h"
#include "base/little_endian.h"

namespace winqor {

uint64_t RecordStreamBuilder::RecordOverhead(std::u16string_view name) {
    return kEntryHeaderBytes + 2 * (static_cast<uint64_t>(name.size()) + 1);
}

void RecordStreamBuilder::AppendRecord(std::u16string_view name, uint32_t attributes, uint32_t size,
                                       uint64_t fileTime, std::optional<uint32_t> permissions) {
    const auto nameLength = static_cast<uint32_t>(2 * (name.size() + 1));
    uint8_t header[kEntryHeaderBytes] = {};
    WriteLe32(header + entry_offset::kHeaderLength, kEntryHeaderBytes + nameLength);
    WriteLe32(header + entry_offset::kNameLength, nameLength);
    WriteLe32(header + entry_offset::kAttributes, attributes);
    WriteLe32(header + entry_offset::kSize, size);
    WriteLe64(header + entry_offset::kFileTime, fileTime);
    if (permissions) WritePermissions(header, *permissions);
    bytes_.insert(bytes_.end(), header, header + kEntryHeaderBytes);
    for (char16_t unit : name) AppendLe16(bytes_, unit);
    bytes_.push_back(0);
    bytes_.push_back(0);
}

void RecordStreamBuilder::AddDirectory(std::u16string_view name) {
    groupStart_ = bytes_.size();
    haveGroup_ = true;
    AppendRecord(name, 0, static_cast<uint32_t>(RecordOverhead(name)), 0);
}

void RecordStreamBuilder::AddFile(std::u16string_view name, uint32_t attributes,
                                  std::span<const uint8_t> content, uint64_t fileTime,
                                  std::optional<uint32_t> permissions) {
    AddFileFrom(
        name, attributes, fileTime,
        [content](std::vector<uint8_t>& bytes) {
            bytes.insert(bytes.end(), content.begin(), content.end());
            return true;
        },
        permissions);
}

bool RecordStreamBuilder::AddFileFrom(
    std::u16string_view name, uint32_t attributes, uint64_t fileTime,
    const std::function<bool(std::vector<uint8_t>&)>& appendContent,
    std::optional<uint32_t> permissions) {
    if (!haveGroup_) AddDirectory(u"");
    const size_t recordStart = bytes_.size();
    AppendRecord(name, attributes, 0, fileTime, permissions);
    const size_t contentStart = bytes_.size();
    if (!appendContent(bytes_)) {
        bytes_.resize(recordStart);
        return false;
    }
    const uint64_t contentSize = bytes_.size() - contentStart;
    WriteLe32(bytes_.data() + recordStart + entry_offset::kSize,
              static_cast<uint32_t>(contentSize));
    uint8_t* groupSize = bytes_.data() + groupStart_ + entry_offset::kSize;
    const uint64_t added = RecordOverhead(name) + contentSize;
    WriteLe32(groupSize, static_cast<uint32_t>(ReadLe32(groupSize) + added));
    return true;
}

}  // namespace winqor
