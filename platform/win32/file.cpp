#include "platform/win32/support.h"

#include <string>

#include "base/limits.h"
#include "platform/file.h"

namespace winqor {

using namespace win32;

FileHandle OpenForRead(const char16_t* path) {
    std::wstring wide;
    if (!WidePath(path, wide) || wide.empty()) return kInvalidHandle;
    ExtendPath(wide);
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(file);
}

uint32_t ReadBytes(FileHandle file, void* buffer, uint32_t count) {
    if (buffer == nullptr || count == 0 || file == kInvalidHandle) return 0;
    const int64_t got = ReadFully(AsHandle(file), buffer, count);
    return got < 0 ? 0 : static_cast<uint32_t>(got);
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the file's end.
FileHandle OpenForAppend(const char16_t* path) {
    std::wstring wide;
    if (!WidePath(path, wide) || wide.empty()) return kInvalidHandle;
    const HANDLE file = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidHandle : FromHandle(file);
}

void CloseFile(FileHandle file) {
    if (file != kInvalidHandle) ::CloseHandle(AsHandle(file));
}

}  // namespace winqor
