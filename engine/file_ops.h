// The file and path operations that the output stage and its callers share. Paths are
// UTF-16, terminated, at most kMaxPath units with the terminator.
#pragma once

#include <cstdint>

#include "platform/file.h"
#include "platform/limits.h"

namespace winqor {

// Creates or truncates a file without following a link at its name. Read-only attribute
// (0x1) gives a read-only file. When the first attempt fails, the name's attributes are reset
// (a link there is removed instead) and the create is tried once more.
FileHandle CreateOutputFile(const char16_t* name, uint32_t attributes);

// Writes count bytes; the bytes written, or 0 on an error, a null buffer or a count of 0.
uint32_t WriteBytes(FileHandle file, const void* buffer, uint32_t count);

// 1 when the folder exists afterwards (also when something of that name already exists);
// only the last component is created.
int MakeFolder(const char16_t* path);

// MakeFolder, then make it the current directory; 1 on success.
int EnterFolder(const char16_t* path);

// base (cut to kMaxPath - 1 units) followed by relative, skipping a doubled backslash. When
// the two do not fit in kMaxPath units, out holds the base alone. Always 1.
int JoinPath(const char16_t* base, char16_t out[kMaxPath], const char16_t* relative);

// Cuts the extension of the last path component in place: from its last dot on, unless that
// dot is the component's first character. Returns path.
char16_t* StripExtension(char16_t* path);

}  // namespace winqor
