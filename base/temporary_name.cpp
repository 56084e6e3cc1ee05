#include "base/temporary_name.h"

namespace winqor {
namespace {

// A run of one or more decimal digits at the start of text, taken off it.
bool TakeDigits(std::string_view& text) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    text.remove_prefix(digits);
    return digits > 0;
}

}  // namespace

std::string TemporaryName(uint64_t pid, uint64_t n) {
    return std::string(kTemporaryPrefix) + std::to_string(pid) + "-" + std::to_string(n) +
           std::string(kTemporarySuffix);
}

bool IsExtractionTemporary(const std::string& name) {
    std::string_view text = name;
    if (!text.starts_with(kTemporaryPrefix) || !text.ends_with(kTemporarySuffix)) return false;
    text = text.substr(kTemporaryPrefix.size(), text.size() - kTemporaryPrefix.size());
    if (text.size() < kTemporarySuffix.size()) return false;
    text.remove_suffix(kTemporarySuffix.size());
    if (!TakeDigits(text) || !text.starts_with('-')) return false;
    text.remove_prefix(1);
    return TakeDigits(text) && text.empty();
}

}  // namespace winqor
