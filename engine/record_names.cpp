#include "engine/record_names.h"

#include <string_view>

#include "base/text.h"
#include "platform/tree_writing.h"

namespace winqor {
namespace {

bool IsSafeComponent(std::u16string_view component) {
    if (component.empty() || component == u"." || component == u"..") return false;
    if (component.find_first_of(u"\\/:") != std::u16string_view::npos) return false;
    return IsValidUtf16(component) && IsPlainNameHere(component);
}

}  // namespace

bool IsSafeFileName(const char16_t* name) {
    return name != nullptr && IsSafeComponent(std::u16string_view(name, Utf16Length(name)));
}

bool SplitDirectoryName(char16_t* name, const char16_t** components, uint32_t maxComponents,
                        uint32_t& count) {
    count = 0;
    if (name == nullptr) return false;
    if (name[0] == 0) return true;
    if (name[0] != u'\\') return false;
    for (char16_t* start = name + 1;;) {
        char16_t* end = start;
        while (*end != 0 && *end != u'\\') ++end;
        const bool last = *end == 0;
        *end = 0;
        if (count == maxComponents || !IsSafeComponent(std::u16string_view(start, end - start))) {
            return false;
        }
        components[count++] = start;
        if (last) return true;
        start = end + 1;
    }
}

}  // namespace winqor
