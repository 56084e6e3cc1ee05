#include "engine/file_ops.h"

#include <string_view>

#include "base/text.h"
#include "format/record_stream.h"
#include "platform/tree_writing.h"

namespace winqor {
namespace {

// "..aze" without its extension would name the current folder, "...aze" its parent.
bool IsDotStem(std::u16string_view stem) {
    return stem == u"." || stem == u"..";
}

// Attributes 0 count as normal.
bool IsReadOnly(uint32_t attributes) {
    const uint32_t creation = attributes == 0 ? kAttributeNormal : attributes;
    return (creation & kAttributeReadOnly) != 0;
}

}  // namespace

bool CreateOutputFile(DirectoryHandle folder, const char16_t* name, ReplacingFile& file) {
    return file.Create(folder, name);
}

ReplacingFile::Outcome FinishOutputFile(ReplacingFile& file, uint32_t attributes,
                                        uint32_t keptExecute, bool ownerOnlyWrite) {
    return file.Commit(IsReadOnly(attributes), keptExecute & kExecuteBits, ownerOnlyWrite);
}

bool ParkOutputFile(ReplacingFile& file, uint32_t attributes, uint32_t keptExecute,
                    bool ownerOnlyWrite) {
    return file.Park(IsReadOnly(attributes), keptExecute & kExecuteBits, ownerOnlyWrite);
}

uint32_t WriteBytes(FileHandle file, const void* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0) return 0;
    return WriteToFile(file, buffer, count);
}

bool JoinPathFits(const char16_t* base, char16_t out[kMaxPath], const char16_t* relative) {
    uint32_t length = 0;
    while (base != nullptr && base[length] != 0 && length < kMaxPath - 1) {
        out[length] = base[length];
        ++length;
    }
    out[length] = 0;
    const bool baseWhole = base == nullptr || base[length] == 0;
    if (relative == nullptr) return baseWhole;
    const bool baseEndsWithSeparator = length > 0 && out[length - 1] == kPathSeparator;
    if (baseEndsWithSeparator && (relative[0] == u'\\' || relative[0] == kPathSeparator)) {
        ++relative;
    }
    const size_t relativeLength = Utf16Length(relative);
    if (relativeLength == 0) return baseWhole;
    if (relativeLength >= kMaxPath - length) return false;
    for (size_t i = 0; i <= relativeLength; ++i) {
        out[length + i] = relative[i] == u'\\' ? kPathSeparator : relative[i];
    }
    return baseWhole;
}

char16_t* StripExtension(char16_t* path) {
    if (path == nullptr || path[0] == 0) return path;
    const size_t length = Utf16Length(path);
    size_t componentStart = length;
    while (componentStart > 0 && !IsPathSeparator(path[componentStart - 1])) --componentStart;
    // The component's first character is never an extension's dot (".profile").
    for (size_t i = length - 1; i > componentStart; --i) {
        if (path[i] != u'.') continue;
        if (!IsDotStem(std::u16string_view(path + componentStart, i - componentStart))) path[i] = 0;
        break;
    }
    return path;
}

}  // namespace winqor
