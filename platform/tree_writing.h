// Folders, the current directory and the files an extraction writes. Paths are UTF-16 and
// converted at the system call; a path that is not valid UTF-16 fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/file.h"
#include "platform/tree_reading.h"

namespace winqor {

// The system's own state of a file being written (posix_support.h, win32_support.h).
class FileReplacement;

enum class MakeDirectoryResult { kCreated, kAlreadyExists, kFailed };

// Creates the last component of path; "already exists" also when a file has that name.
MakeDirectoryResult MakeDirectory(const char16_t* path);

// The current directory as an absolute path; its length in units, or 0 when it cannot be
// read or does not fit units (terminator included).
uint32_t GetCurrentDirectory(char16_t* buffer, uint32_t units);

// An open folder: a walk reaches everything below it from here, never by a path again.
using DirectoryHandle = intptr_t;
inline constexpr DirectoryHandle kInvalidDirectory = -1;

void CloseDirectory(DirectoryHandle folder);

// Makes the folder the current directory.
bool MakeCurrent(DirectoryHandle folder);

enum class RootTrust {
    kChosen,  // a folder the user named: it may be reached through links
    kOwned,   // a real folder (not a link) of the running user (as one this call creates is)
};
enum class OpenRootResult { kOpened, kFailed, kLink, kNotOwned };

// Creates the last component of path when it is missing and opens it as a folder.
OpenRootResult OpenRootFolder(const char16_t* path, RootTrust trust, DirectoryHandle& root);

enum class EnterResult { kEntered, kLinkRefused, kFailed };

// Enters root/components[0]/.../components[count-1], root itself when count is 0, each
// component opened from its parent's descriptor without following a link (even one that
// appears while the walk runs). Only the last component is created when it is missing. The
// folder entered is left open in entered, which the caller closes. Without createLast, nothing
// is created: a missing component fails.
EnterResult EnterFolderBelow(DirectoryHandle root, const char16_t* const* components,
                             uint32_t count, DirectoryHandle& entered, bool createLast = true);

// Removes the folder at path when it is empty; false when it is not, or cannot be removed.
bool RemoveEmptyFolder(const char16_t* path);

// A file of an extraction. It is written under a temporary name in its folder and takes its
// name only when complete, replacing whatever entry had it (a file of any owner or link
// count, a symbolic link, a pipe, a device) without opening that entry. Until Commit the old
// entry stays as it was; an uncommitted file is removed when the object goes. The new file
// belongs to the running user.
class ReplacingFile {
  public:
    enum class Outcome { kDone, kFailed, kFolderInTheWay };

    ReplacingFile();
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary for name in folder, which stays open until Commit or Abandon.
    bool Create(DirectoryHandle folder, const char16_t* name);
    FileHandle handle() const;
    // The new file's identity, which tells it apart from any other file; asked before Commit.
    bool Identify(FileId& id) const;
    // Mode 0444 when readOnly, else 0666, with the execute bits of keptExecute (within 0111)
    // added, less the umask; an execute bit stays only beside its read bit. On Windows: the
    // read-only attribute when readOnly, and keptExecute means nothing. Then the rename over
    // the name.
    Outcome Commit(bool readOnly, uint32_t keptExecute = 0);
    void Abandon();

  private:
    std::unique_ptr<FileReplacement> replacement_;
};

// False for a name that this system would take for something other than a plain entry of the
// folder, or for the same entry as another name. On Windows: a reserved device name (CON, PRN,
// AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9 and COM/LPT with a superscript 1, 2 or 3,
// with or without an extension, any case, also with spaces before the extension), a name
// ending in a dot or a space, a separator, and a character that names a stream or a pattern
// there (< > : " | ? * and the control characters). Linux takes every name but "/" and NUL
// as it stands.
bool IsPlainNameHere(std::u16string_view name);

// Writes all count bytes unless an error stops it; the bytes written.
uint32_t WriteToFile(FileHandle file, const void* buffer, uint32_t count);

}  // namespace winqor
