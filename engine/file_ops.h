// The file and path operations that the output stage and its callers share. Paths are
// UTF-16, terminated, at most kMaxPath units with the terminator.
#pragma once

#include <cstdint>

#include "base/limits.h"
#include "platform/file.h"
#include "platform/tree_writing.h"

namespace winqor {

// Starts the file for name in folder: a new file under a temporary name, written through
// file.handle(). Whatever has that name now is never opened, so it cannot be written through.
bool CreateOutputFile(DirectoryHandle folder, const char16_t* name, ReplacingFile& file);

// Gives the complete file its name, replacing what had it; read-only attribute (0x1) gives a
// read-only file (attributes 0 count as normal). keptExecute: the execute bits its record
// kept (0 for none), which a system with permission bits adds where the read bit is given.
// ownerOnlyWrite: nobody but its owner may write to it, whatever the umask.
ReplacingFile::Outcome FinishOutputFile(ReplacingFile& file, uint32_t attributes,
                                        uint32_t keptExecute = 0, bool ownerOnlyWrite = false);

// FinishOutputFile's mode for the file, which is then set aside under its temporary name
// (ReplacingFile::Park); false when it cannot be.
bool ParkOutputFile(ReplacingFile& file, uint32_t attributes, uint32_t keptExecute = 0,
                    bool ownerOnlyWrite = false);

// Writes count bytes; the bytes written, or 0 on an error, a null buffer or a count of 0.
uint32_t WriteBytes(FileHandle file, const void* buffer, uint32_t count);

// base (cut to kMaxPath - 1 units) followed by relative, skipping a doubled separator, into
// out; true when out holds the whole join. When base had to be cut or relative does not fit
// beside it, out holds the base alone and the result is false.
bool JoinPathFits(const char16_t* base, char16_t out[kMaxPath], const char16_t* relative);

// Cuts the extension of the last path component in place: from its last dot on, unless that
// dot is the component's first character or what would stay of the component is "." or ".."
// (a stem that names the folder itself or its parent is no stem). Returns path.
char16_t* StripExtension(char16_t* path);

}  // namespace winqor
