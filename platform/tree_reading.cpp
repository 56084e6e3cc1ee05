// What FolderHandle does the same way on every system; opening, listing and closing are the
// system's (tree_reading_posix.cpp, tree_reading_win32.cpp).
#include "platform/tree_reading.h"

#include <utility>

namespace winqor {

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
