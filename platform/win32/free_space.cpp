#include "platform/win32/support.h"

#include <vector>

#include "platform/free_space.h"

namespace winqor {

bool FreeBytesFor(DirectoryHandle folder, uint64_t& bytes) {
    if (folder == kInvalidDirectory) return false;
    // The folder's own path, as the handle reaches it: the volume it was opened on, whatever
    // happened to its name since.
    const HANDLE handle = win32::AsHandle(folder);
    const DWORD units = ::GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    if (units == 0) return false;
    std::vector<wchar_t> path(units + 1);
    const DWORD written =
        ::GetFinalPathNameByHandleW(handle, path.data(), units + 1, FILE_NAME_NORMALIZED);
    if (written == 0 || written > units) return false;
    ULARGE_INTEGER callerFree = {};
    if (::GetDiskFreeSpaceExW(path.data(), &callerFree, nullptr, nullptr) == 0) return false;
    bytes = callerFree.QuadPart;
    return true;
}

}  // namespace winqor
