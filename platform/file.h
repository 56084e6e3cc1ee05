// Files and folders on the host system. Paths are UTF-16 and converted at the system call;
// a path that is not valid UTF-16 fails like a path that does not exist.
#pragma once

#include <cstdint>

namespace winqor {

// A descriptor on Linux, a HANDLE on Windows: wide enough for either.
using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidHandle = -1;

// Opens an existing file for reading.
FileHandle OpenForRead(const char16_t* path);

// Reads up to count bytes; the bytes read (fewer only at the end of the file), or 0 on an
// error, a null buffer or a count of 0.
uint32_t ReadBytes(FileHandle file, void* buffer, uint32_t count);

// Opens path for appending, creating it readable and writable by the running user only when it
// is missing (on Windows it gets its folder's inherited permissions).
FileHandle OpenForAppend(const char16_t* path);

// Closes the handle if it is valid.
void CloseFile(FileHandle file);

}  // namespace winqor
