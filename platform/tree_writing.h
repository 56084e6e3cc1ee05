// Folders, the current directory and the files an extraction writes. Paths are UTF-16 and
// converted at the system call; a path that is not valid UTF-16 fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/tree_reading.h"

namespace winqor {

// The system's own state of a file being written (platform/posix/support.h,
// platform/win32/support.h).
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
    // A real folder (not a link) of the running user or root that nobody else can write to (see
    // FolderTrust::kOwnersOnly), as one this call creates is: it is made writable by its owner
    // alone, whatever the umask.
    kOwned,
};
enum class OpenRootResult { kOpened, kFailed, kLink, kNotOwned, kWritableByOthers };

// Creates the last component of path when it is missing and opens it as a folder.
OpenRootResult OpenRootFolder(const char16_t* path, RootTrust trust, DirectoryHandle& root);

// What a walk asks of the folders it finds below its root.
enum class FolderTrust {
    kAny,  // any real folder (never a link)
    // A real folder of the running user or root that nobody else can write to: group write
    // permission only for a group that holds the running user alone, no write permission for
    // others (OpenSSH's StrictModes rule). The folders such a walk creates are made writable by
    // their owner alone, whatever the umask, so that it accepts them again. (Windows: any.)
    kOwnersOnly,
};

// The trust a walk of aze or the window asks below a root the user chose: a process of the
// superuser takes only folders it could have made itself, since another user's folder there
// would have it write (and later run) what that user swaps in.
FolderTrust TrustBelowChosenRoot();

// What a sandboxed child could change about the folder it writes in: whether it is still a
// folder, its owner and its permission bits.
struct FolderStanding {
    bool folder = false;
    uint64_t owner = 0;
    uint32_t mode = 0;
    bool operator==(const FolderStanding&) const = default;
};
// false when folder cannot be looked at.
bool ReadFolderStanding(DirectoryHandle folder, FolderStanding& standing);

// Learns now what judging folders by kOwnersOnly needs (on Linux, the groups that hold the
// running user alone, from files a confined process can no longer read); a walk that asks for
// kOwnersOnly otherwise learns it when it starts.
void LearnFolderTrust();

enum class EnterResult { kEntered, kLinkRefused, kFailed, kNotOwned, kWritableByOthers };

// Enters root/components[0]/.../components[count-1], root itself when count is 0, each
// component opened from its parent's descriptor without following a link (even one that
// appears while the walk runs). Only the last component is created when it is missing. The
// folder entered is left open in entered, which the caller closes. Without createLast, nothing
// is created: a missing component fails.
EnterResult EnterFolderBelow(DirectoryHandle root, const char16_t* const* components,
                             uint32_t count, DirectoryHandle& entered, bool createLast = true);

// Removes the folder at path when it is empty; false when it is not, or cannot be removed.
bool RemoveEmptyFolder(const char16_t* path);

// The system's state of a walk (platform/posix/tree_writing.cpp, platform/win32/tree_writing.cpp).
class FolderChain;

// A walk through the folders below a root, one folder record after another, as
// EnterFolderBelow enters them. It keeps the chain of folders it entered last, so entering the
// next one opens only the components in which the two differ: a walk costs what its tree
// holds, however deep the tree goes. Every folder it enters, created or found, meets its trust.
class FolderWalk {
  public:
    FolderWalk();
    ~FolderWalk();
    FolderWalk(const FolderWalk&) = delete;
    FolderWalk& operator=(const FolderWalk&) = delete;

    // Starts below root, which stays the caller's and open for as long as the walk goes on.
    bool Start(DirectoryHandle root, FolderTrust trust);
    // Enters root/components[0]/.../components[count-1] and makes it current; only the last
    // component is created when it is missing. On failure reached is the number of components
    // entered: components[reached] is the one refused (reached == count: entering the folder
    // itself failed). Without createLast, nothing is created: a missing component fails.
    EnterResult Enter(const char16_t* const* components, uint32_t count, uint32_t& reached,
                      bool createLast = true);
    // The folder entered last; kInvalidDirectory before one is, or after a failure.
    DirectoryHandle current() const;
    void Close();

  private:
    std::unique_ptr<FolderChain> chain_;
};

// FolderWalk::Enter on each system: the components in the system's form (convert is false for
// a name the system cannot take), entered through chain, which forgets where it was on any
// failure.
template <typename Name, typename Chain, typename Convert>
EnterResult EnterConverted(Chain* chain, const char16_t* const* components, uint32_t count,
                           uint32_t& reached, Convert convert, bool createLast) {
    reached = 0;
    if (chain == nullptr) return EnterResult::kFailed;
    std::vector<Name> names(count);
    for (uint32_t i = 0; i < count; ++i) {
        if (!convert(components[i], names[i])) {
            chain->Forget();
            return EnterResult::kFailed;
        }
    }
    const EnterResult result = chain->Enter(names, reached, createLast);
    if (result != EnterResult::kEntered) chain->Forget();
    return result;
}

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
    // added, less the umask; an execute bit stays only beside its read bit; when
    // ownerOnlyWrite, less the write permission of group and others too. On Windows: the
    // read-only attribute when readOnly, and the rest means nothing. Then the rename over
    // the name.
    Outcome Commit(bool readOnly, uint32_t keptExecute = 0, bool ownerOnlyWrite = false);
    void Abandon();
    // Sets a complete file aside under its temporary name, with the mode Commit would give it:
    // it holds no descriptor on Linux, so that a walk can set thousands aside, and its folder
    // may close. CommitParked gives it its name, RemoveParked removes it, each from the same
    // folder opened again; a parked file that gets neither stays on the disk.
    bool Park(bool readOnly, uint32_t keptExecute = 0, bool ownerOnlyWrite = false);
    Outcome CommitParked(DirectoryHandle folder);
    void RemoveParked(DirectoryHandle folder);

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

// What the name holds in folder, looked at without following a link.
enum class NameHolds { kNothing, kFolder, kOther };
NameHolds WhatNameHolds(DirectoryHandle folder, const char16_t* name);

// The form in which this system compares the names of one folder: Windows takes "README" and
// "readme" for one entry (their upper case), Linux takes every name as it stands.
std::u16string FoldedName(std::u16string_view name);

// A name for an entry of this process that no other has: ".winqor-<pid>-<n>.partial".
std::u16string NewTemporaryName();

// Renames the folder from to the name to, both in folder; false when an entry has that name.
bool RenameFolderEntry(DirectoryHandle folder, const char16_t* from, const char16_t* to);

// Removes the entry name of folder (an empty folder when isFolder) without following a link.
bool RemoveEntry(DirectoryHandle folder, const char16_t* name, bool isFolder);

// Writes all count bytes unless an error stops it; the bytes written.
uint32_t WriteToFile(FileHandle file, const void* buffer, uint32_t count);

}  // namespace winqor
