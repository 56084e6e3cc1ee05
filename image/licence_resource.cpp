#include "image/licence_resource.h"

#include <string>

#include "base/text.h"

namespace winqor {
namespace {

constexpr uint8_t kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

bool HasByteOrderMark(std::span<const uint8_t> text) {
    return text.size() >= sizeof kByteOrderMark && text[0] == kByteOrderMark[0] &&
           text[1] == kByteOrderMark[1] && text[2] == kByteOrderMark[2];
}

bool IsAllowedControl(char16_t unit) {
    return unit == u'\t' || unit == u'\n' || unit == u'\r' || unit == u'\f';
}

// C0 controls, DEL and the C1 controls (which terminals take as commands too).
bool IsControl(char16_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
}

}  // namespace

std::span<const uint8_t> WithoutByteOrderMark(std::span<const uint8_t> text) {
    return HasByteOrderMark(text) ? text.subspan(sizeof kByteOrderMark) : text;
}

bool CheckLicenceText(std::span<const uint8_t> text, std::string& reason) {
    if (text.empty()) {
        reason = "the licence is empty";
        return false;
    }
    if (text.size() > kMaxLicenceBytes) {
        reason = "the licence is larger than " + WithThousands(kMaxLicenceBytes) + " bytes";
        return false;
    }
    std::u16string units;
    const std::string_view bytes(reinterpret_cast<const char*>(text.data()), text.size());
    if (HasByteOrderMark(text) || !Utf8ToUtf16(bytes, units)) {
        reason = HasByteOrderMark(text) ? "the licence starts with a byte order mark"
                                        : "the licence is not UTF-8 text";
        return false;
    }
    for (const char16_t unit : units) {
        if (IsControl(unit) && !IsAllowedControl(unit)) {
            reason =
                "the licence holds a control character other than tab, line feed, carriage "
                "return and form feed";
            return false;
        }
    }
    return true;
}

}  // namespace winqor
