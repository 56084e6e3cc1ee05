// What FolderHandle does the same way on every system; opening, listing and closing are the
// system's (tree_reading_posix.cpp, tree_reading_win32.cpp).
#include "platform/tree_reading.h"

#include <string_view>
#include <utility>

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

bool IsExtractionTemporary(const std::string& name) {
    constexpr std::string_view kPrefix = ".winqor-", kSuffix = ".partial";
    std::string_view text = name;
    if (!text.starts_with(kPrefix) || !text.ends_with(kSuffix)) return false;
    text = text.substr(kPrefix.size(), text.size() - kPrefix.size());
    if (text.size() < kSuffix.size()) return false;
    text.remove_suffix(kSuffix.size());
    if (!TakeDigits(text) || !text.starts_with('-')) return false;
    text.remove_prefix(1);
    return TakeDigits(text) && text.empty();
}

FolderHandle::~FolderHandle() {
    Close();
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, kInvalidHandle)) {}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kInvalidHandle);
    }
    return *this;
}

}  // namespace winqor
