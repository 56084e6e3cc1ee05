// Folders, the current directory and the files an extraction writes. Paths are UTF-16 and
// converted at the system call; a path that is not valid UTF-16 fails.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace winqor {

enum class MakeDirectoryResult { kCreated, kAlreadyExists, kFailed };

// Creates the last component of path; "already exists" also when a file has that name.
MakeDirectoryResult MakeDirectory(const char16_t* path);

bool ChangeDirectory(const char16_t* path);

// The current directory as an absolute path; its length in units, or 0 when it cannot be
// read or does not fit units (terminator included).
uint32_t GetCurrentDirectory(char16_t* buffer, uint32_t units);

enum class EnterResult { kEntered, kLinkRefused, kFailed };

// Enters root/components[0]/.../components[count-1], root itself when count is 0. The root
// may be reached through links; below it no symbolic link is followed, even if one appears
// while the walk runs. Only the last component is created when it is missing.
EnterResult EnterFolderBelow(const char16_t* root, const char16_t* const* components,
                             uint32_t count);

// Creates or truncates a file in the current directory or at a path, never through a link
// at its name. A read-only file gets mode 0444, any other 0666; the umask applies.
FileHandle CreateFileForWriting(const char16_t* name, bool readOnly);

// Makes the existing entry at name writable again (mode 0666 less the umask) without
// following a link; a symbolic link there is removed instead, so that it can be replaced.
bool ResetFileAttributes(const char16_t* name);

// Writes all count bytes unless an error stops it; the bytes written.
uint32_t WriteToFile(FileHandle file, const void* buffer, uint32_t count);

}  // namespace winqor
