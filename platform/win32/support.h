// Small helpers that the Win32 implementation files share: paths, handles, the system's reason
// texts, whole reads and writes, and opens relative to a held folder (through ntdll, whose
// calls take a folder handle as the root of a name). Included by platform/win32/ only, and before
// any other platform header, so that the system's macros for its own W/A function pairs
// (GetModuleFileName, FindResource, ...) cannot rename the platform's functions of those names.
#pragma once

#include <windows.h>
#include <winternl.h>

#undef FindResource
#undef GetCurrentDirectory
#undef GetModuleFileName
#undef OutputDebugString

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/file.h"
#include "platform/tree_reading.h"

namespace winqor::win32 {

// ---- Paths -----------------------------------------------------------------------------

// wchar_t and char16_t are the same 16-bit units on Windows.
inline const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline std::wstring WideString(std::u16string_view text) {
    return std::wstring(Wide(text.data()), text.size());
}
inline std::u16string_view Utf16Of(std::wstring_view wide) {
    return {reinterpret_cast<const char16_t*>(wide.data()), wide.size()};
}

// The system's form of a UTF-16 path; false for a null path or a lone surrogate.
bool WidePath(const char16_t* path, std::wstring& wide);
// The system's form of a UTF-8 path (tree_reading.h's paths); false when it is not UTF-8.
bool WidePathFromUtf8(const std::string& path, std::wstring& wide);
// A whole path as the system opens it past MAX_PATH: from kLongPathUnits units on, the full
// path in its extended form ("\\?\C:\x", "\\?\UNC\server\share\x"), which the system
// takes up to 32,767 units. A shorter path stays as it is, as does one already extended or
// naming a device ("\\.\"). Call it on paths, never on names below a folder.
void ExtendPath(std::wstring& path);
// UTF-8 of a name the system gave; lone surrogates become U+FFFD.
std::string Utf8OfWide(std::wstring_view wide);

// The path a handle's file or folder has now, as the system gives it ("\\?\C:\dl\pack");
// empty when the system cannot tell.
std::wstring FinalPathOfHandle(HANDLE handle);
// The same in the form a user knows ("C:\dl\pack", "\\server\share\pack").
std::wstring PathOfHandle(HANDLE handle);

// ---- Errors ----------------------------------------------------------------------------

// The system's text for an error code, in UTF-8, without its line end.
std::string SystemReason(DWORD error);
inline std::string LastReason() {
    return SystemReason(::GetLastError());
}

// ---- Handles ---------------------------------------------------------------------------

inline HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
inline intptr_t FromHandle(HANDLE handle) {
    return reinterpret_cast<intptr_t>(handle);
}

// Closes a handle when it goes out of scope. Holds INVALID_HANDLE_VALUE when empty.
class Handle {
  public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(Valid(handle)) {}
    ~Handle() { Reset(); }
    Handle(Handle&& other) noexcept : handle_(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE);
    HANDLE Release();

  private:
    // Some calls give null for "no handle", others INVALID_HANDLE_VALUE: one value here.
    static HANDLE Valid(HANDLE handle) { return handle == nullptr ? INVALID_HANDLE_VALUE : handle; }
    HANDLE handle_;
};

// ---- Reading and writing ---------------------------------------------------------------

// Reads until count bytes are in or the file ends; the bytes read, or -1 (GetLastError says
// why).
int64_t ReadFully(HANDLE file, void* buffer, uint64_t count);
// Writes all count bytes; false when an error stops it (GetLastError says why).
bool WriteFully(HANDLE file, const void* bytes, uint64_t count);

// ---- What an open file is --------------------------------------------------------------

struct FileFacts {
    DWORD attributes = 0;
    uint64_t size = 0;
    uint32_t links = 0;
    FILETIME modified = {};
    FileId id;
};

bool FactsOf(HANDLE file, FileFacts& facts);

inline bool IsReparsePoint(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
inline bool IsFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether the handle is a regular file on a disk: not a folder, pipe, console or device.
bool IsRegularFile(HANDLE file, const FileFacts& facts);

// Whether the running user owns the open file or folder: its owner is the user's own account
// or the owner the user's new files get (an elevated administrator's are owned by the
// Administrators group). A volume that keeps no owners (FAT) has nothing to tell apart and
// counts as owned. false also when the owner cannot be read.
bool IsOwnedByRunningUser(HANDLE file);

// ---- Relative to a held folder ---------------------------------------------------------

// A name of one entry, safe to resolve below a folder: not empty, not "." or "..", no
// separator, no stream (':'), and plain for Windows (IsPlainNameHere).
bool IsSingleEntryName(std::wstring_view name);

// The NT statuses this code tells apart (the system's headers name them only beside
// <windows.h>'s own definitions, which clash).
inline constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002L);
inline constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003L);
inline constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);
inline constexpr NTSTATUS kStatusObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033L);
inline constexpr NTSTATUS kStatusObjectNameCollision = static_cast<NTSTATUS>(0xC0000035L);
inline constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);
inline constexpr NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BBL);
inline constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103L);

// Sets the file's attributes through its handle (only those a file may be given).
bool SetAttributes(HANDLE file, DWORD attributes);

struct RelativeOpen {
    ACCESS_MASK access = 0;
    ULONG share = 0;
    ULONG disposition = FILE_OPEN;  // FILE_OPEN, FILE_CREATE, FILE_OPEN_IF
    ULONG options = 0;  // added to FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT
};

// Opens name below folder, never following a reparse point at name itself (FILE_OPEN_REPARSE_
// POINT: the handle is the link, not its target). name must be one entry (IsSingleEntryName).
// The NT status; on success opened holds the handle.
NTSTATUS OpenBelow(HANDLE folder, std::wstring_view name, const RelativeOpen& how, Handle& opened);

// Whether the entry name of folder is a reparse point, looked at by its path below the
// folder's (which stays while the folder is held). A second check beside the handle's own
// attributes: a system that follows a link on open (Wine follows the host's symbolic links)
// still shows it here.
bool EntryIsReparsePoint(HANDLE folder, std::wstring_view name);

// Renames the open file (opened with DELETE access) to name in folder. replace: an entry of
// that name is replaced (never a folder); on a system that can, a read-only one too.
NTSTATUS RenameInto(HANDLE file, HANDLE folder, std::wstring_view name, bool replace);

// Marks the open file (opened with DELETE access) for removal when its last handle closes.
bool RemoveOnClose(HANDLE file);

// The Win32 error of an NT status, also set as the thread's last error.
DWORD ErrorOfStatus(NTSTATUS status);

// ---- Files that replace others ---------------------------------------------------------

// A new file that takes its name in a folder only once it is complete: created under the
// temporary name ".winqor-<pid>-<n>.partial" in the folder (exclusively, never through a
// link), written through handle(), then renamed over the name by Commit. Whatever entry held
// the name before (a file of any owner or link count, a read-only file, a link) is replaced,
// never opened for writing, and stays whole until then. An uncommitted temporary is removed
// when the object goes.
class AtomicReplacement {
  public:
    enum class Outcome { kDone, kFailed, kFolderInTheWay };

    AtomicReplacement() = default;
    ~AtomicReplacement() { Abandon(); }
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;

    // folder must stay open until Commit or Abandon. false (GetLastError says why) when the
    // name is no single plain entry or the temporary cannot be created.
    bool Begin(HANDLE folder, std::wstring name);
    HANDLE handle() const { return file_.get(); }
    // Gives the read-only attribute when asked, flushes when durable, then renames the file
    // over the name. On failure the temporary is removed and the old entry is as it was;
    // GetLastError says why.
    Outcome Commit(bool readOnly, bool durable);
    void Abandon();
    // Commit for a file set aside while its folder closed: folder is the same folder, opened
    // again.
    Outcome CommitInto(HANDLE folder, bool readOnly) {
        folder_ = folder;
        return Commit(readOnly, false);
    }

  private:
    Outcome ReplaceByMovingAside();

    HANDLE folder_ = INVALID_HANDLE_VALUE;
    Handle file_;
    std::wstring name_;
};

// A new temporary name for this process: ".winqor-<pid>-<n>.partial".
std::wstring TemporaryName();

// Replaces the file at path with bytes through an AtomicReplacement in its folder, durably.
// false with the system's reason.
bool ReplaceFileAtPath(const std::string& path, const void* bytes, uint64_t count,
                       std::string& reason);

}  // namespace winqor::win32
