#include "image/version_info_reader.h"

#include <algorithm>

#include "base/little_endian.h"
#include "base/text.h"

namespace winqor {
namespace {

constexpr size_t kBlockHeadBytes = 6;  // wLength, wValueLength, wType
constexpr uint32_t kTextValue = 1;

size_t AlignUp4(size_t offset) {
    return (offset + 3) & ~size_t{3};
}

// One block: its key, its value's bytes and the bytes of its children.
struct VersionBlock {
    std::u16string key;
    std::span<const uint8_t> value;
    std::span<const uint8_t> children;
    size_t length = 0;  // to the next sibling, padding included
};

// The terminated UTF-16 text at the start of bytes; false when no terminator comes.
bool ReadTerminated(std::span<const uint8_t> bytes, std::u16string& text, size_t& units) {
    text.clear();
    for (units = 0; bytes.size() - units * 2 >= 2; ++units) {
        const auto unit = static_cast<char16_t>(ReadLe16(bytes.data() + units * 2));
        if (unit == 0) return true;
        text += unit;
    }
    return false;
}

bool ReadBlock(std::span<const uint8_t> bytes, VersionBlock& block) {
    if (bytes.size() < kBlockHeadBytes) return false;
    const size_t length = ReadLe16(bytes.data());
    const size_t valueLength = ReadLe16(bytes.data() + 2);
    const uint32_t type = ReadLe16(bytes.data() + 4);
    if (length < kBlockHeadBytes || length > bytes.size()) return false;
    const std::span<const uint8_t> whole = bytes.first(length);
    size_t keyUnits = 0;
    if (!ReadTerminated(whole.subspan(kBlockHeadBytes), block.key, keyUnits)) return false;
    const size_t valueStart = std::min(AlignUp4(kBlockHeadBytes + keyUnits * 2 + 2), length);
    // A text value counts its length in units; some writers count bytes: the block bounds it.
    const size_t valueBytes =
        std::min(type == kTextValue ? valueLength * 2 : valueLength, length - valueStart);
    block.value = whole.subspan(valueStart, valueBytes);
    const size_t childrenStart = std::min(AlignUp4(valueStart + valueBytes), length);
    block.children = whole.subspan(childrenStart);
    block.length = std::min(AlignUp4(length), bytes.size());
    return true;
}

// Calls take for each child block of children; false when one does not hold together.
template <typename Take>
bool ForEachChild(std::span<const uint8_t> children, Take take) {
    while (!children.empty()) {
        VersionBlock child;
        if (!ReadBlock(children, child)) return false;
        if (!take(child)) return true;
        children = children.subspan(child.length);
    }
    return true;
}

bool ReadStringTable(const VersionBlock& table,
                     std::vector<std::pair<std::string, std::string>>& strings) {
    return ForEachChild(table.children, [&strings](const VersionBlock& entry) {
        std::u16string value;
        size_t units = 0;
        // A value without its terminator is taken as far as it goes.
        ReadTerminated(entry.value, value, units);
        strings.emplace_back(Utf16ToUtf8Lossy(entry.key), Utf16ToUtf8Lossy(value));
        return true;
    });
}

}  // namespace

bool ReadVersionStrings(std::span<const uint8_t> resource,
                        std::vector<std::pair<std::string, std::string>>& strings) {
    strings.clear();
    VersionBlock root;
    if (!ReadBlock(resource, root) || root.key != u"VS_VERSION_INFO") return false;
    bool read = true;
    const bool walked = ForEachChild(root.children, [&](const VersionBlock& child) {
        if (child.key != u"StringFileInfo") return true;
        // The first table only: the others say the same in other languages.
        read = ForEachChild(child.children,
                            [&](const VersionBlock& table) {
                                read = ReadStringTable(table, strings);
                                return false;
                            }) &&
               read;
        return false;
    });
    return walked && read;
}

}  // namespace winqor
