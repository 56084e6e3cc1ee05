#include "platform/win32/support.h"

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "base/temporary_name.h"
#include "platform/tree_writing.h"

namespace winqor::win32 {
namespace {

constexpr int kTemporaryAttempts = 100;
// ReadFile and WriteFile take a 32-bit count.
constexpr uint64_t kMaxChunk = 1u << 30;

// File information classes and flags of later systems than the headers describe.
constexpr auto kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr auto kFileRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;
constexpr ULONG kRenameIgnoreReadOnly = 0x40;
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
// The attributes that FILE_BASIC_INFO may set; the others describe what a file is.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::atomic<uint64_t> g_temporaryCounter{0};

// FILE_RENAME_INFORMATION as the kernel reads it: the flags of the Ex class share the first
// field with ReplaceIfExists.
struct RenameInformation {
    union {
        BOOLEAN replaceIfExists;
        ULONG flags;
    };
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// "\\?\C:\x" becomes "C:\x" and "\\?\UNC\server\share" "\\server\share"; any other form (a
// volume without a drive letter) stays as it is.
std::wstring UserFormOfPath(std::wstring path) {
    if (StartsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
    if (StartsWith(path, L"\\\\?\\") && path.size() >= 6 && path[5] == L':') {
        return path.substr(4);
    }
    return path;
}

UNICODE_STRING CountedName(std::wstring_view name) {
    UNICODE_STRING counted;
    counted.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    counted.Buffer = const_cast<wchar_t*>(name.data());
    return counted;
}

// The name an NT call takes fits a UNICODE_STRING's 16-bit byte count.
bool FitsCountedName(std::wstring_view name) {
    return name.size() < 0x7FFF;
}

NTSTATUS SetInformation(HANDLE file, void* information, ULONG bytes, FILE_INFORMATION_CLASS kind) {
    IO_STATUS_BLOCK status = {};
    return ::NtSetInformationFile(file, &status, information, bytes, kind);
}

// Classes and flags that an older system or another file system does not know.
bool IsUnknownRequest(NTSTATUS status) {
    return status == kStatusInvalidInfoClass || status == kStatusNotImplemented ||
           status == kStatusNotSupported || status == kStatusInvalidParameter;
}

// The bytes a rename passes: the name's units after the fixed fields, but never fewer than the
// structure itself, which ends in room for one unit and padding; the system refuses a
// smaller buffer, so a short name ("a") would fail.
size_t RenameInformationBytes(std::wstring_view name) {
    const size_t exact = offsetof(RenameInformation, fileName) + name.size() * sizeof(wchar_t);
    return std::max(exact, sizeof(RenameInformation));
}

NTSTATUS Rename(HANDLE file, HANDLE folder, std::wstring_view name, FILE_INFORMATION_CLASS kind,
                ULONG flags) {
    const size_t bytes = RenameInformationBytes(name);
    // Zeroed, terminated, and aligned for the structure's handle field.
    std::vector<uint64_t> buffer((bytes + sizeof(wchar_t)) / sizeof(uint64_t) + 1);
    auto* information = reinterpret_cast<RenameInformation*>(buffer.data());
    information->flags = flags;
    information->rootDirectory = folder;
    information->fileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    name.copy(information->fileName, name.size());
    return SetInformation(file, information, static_cast<ULONG>(bytes), kind);
}

bool ReadTokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<std::byte>& buffer) {
    DWORD bytes = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &bytes);
    buffer.resize(bytes);
    return bytes != 0 && ::GetTokenInformation(token, kind, buffer.data(), bytes, &bytes) != 0;
}

// The running user's account and the owner its new files get.
bool IsRunningUsersSid(PSID owner) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    Handle token(raw);
    std::vector<std::byte> user, defaultOwner;
    if (ReadTokenSid(token.get(), TokenUser, user) &&
        ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid)) {
        return true;
    }
    return ReadTokenSid(token.get(), TokenOwner, defaultOwner) &&
           ::EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner);
}

bool VolumeKeepsOwners(HANDLE file) {
    DWORD flags = 0;
    if (!::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        return true;  // cannot tell: the owner decides
    }
    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

// Removes an entry that was moved aside. A read-only one is removed all the same; when the
// file has other names, they keep its read-only attribute.
void RemoveMovedAside(HANDLE old, const FileFacts& facts) {
    if ((facts.attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        RemoveOnClose(old);
        return;
    }
    ULONG flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
    if (::SetFileInformationByHandle(old, kFileDispositionInfoEx, &flags, sizeof flags)) return;
    if (!SetAttributes(old, facts.attributes & ~FILE_ATTRIBUTE_READONLY)) return;
    RemoveOnClose(old);
    if (facts.links > 1) SetAttributes(old, facts.attributes);
}

}  // namespace

bool SetAttributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic = {};
    attributes &= kSettableAttributes;
    // 0 would leave the attributes as they are.
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool WidePath(const char16_t* path, std::wstring& wide) {
    if (path == nullptr) return false;
    const std::u16string_view view(path, Utf16Length(path));
    if (!IsValidUtf16(view)) return false;
    wide.assign(Wide(path), view.size());
    return true;
}

void ExtendPath(std::wstring& path) {
    // CreateDirectoryW keeps room for an 8.3 name: its limit is MAX_PATH less 12.
    constexpr size_t kLongPathUnits = MAX_PATH - 12;
    if (path.size() < kLongPathUnits || StartsWith(path, L"\\\\?\\") ||
        StartsWith(path, L"\\\\.\\")) {
        return;
    }
    // The extended form is taken as it stands: '/', "." and ".." are resolved first.
    std::wstring full(path.size() + MAX_PATH, L'\0');
    DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.assign(length, L'\0');
        length = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) return;
    full.resize(length);
    path = StartsWith(full, L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

bool WidePathFromUtf8(const std::string& path, std::wstring& wide) {
    std::u16string utf16;
    if (!Utf8ToUtf16(path, utf16)) return false;
    wide = WideString(utf16);
    return true;
}

std::string Utf8OfWide(std::wstring_view wide) {
    return Utf16ToUtf8Lossy(Utf16Of(wide));
}

// The object's name as the kernel keeps it: "\\??\\C:\\x" becomes "\\\\?\\C:\\x". Wine's
// GetFinalPathNameByHandleW reads the name into a buffer of MAX_PATH units and fails on a longer
// one; this buffer takes the longest name the system has.
std::wstring ObjectPathOfHandle(HANDLE handle) {
    // A counted name holds at most 65,535 bytes.
    constexpr size_t kMaxNameBytes = 0x10000;
    std::vector<uint64_t> buffer((sizeof(OBJECT_NAME_INFORMATION) + kMaxNameBytes) /
                                 sizeof(uint64_t));
    ULONG bytes = 0;
    auto* information = reinterpret_cast<OBJECT_NAME_INFORMATION*>(buffer.data());
    const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(uint64_t));
    if (!NT_SUCCESS(::NtQueryObject(handle, ObjectNameInformation, information, size, &bytes)) ||
        information->Name.Buffer == nullptr) {
        return {};
    }
    const std::wstring_view name(information->Name.Buffer,
                                 information->Name.Length / sizeof(wchar_t));
    if (!StartsWith(name, L"\\??\\")) return {};
    return L"\\\\?\\" + std::wstring(name.substr(4));
}

std::wstring FinalPathOfHandle(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0) return ObjectPathOfHandle(handle);
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        // Too small: length is the size needed, terminator included (Wine counts it without:
        // one unit more serves both).
        path.assign(length + 1, L'\0');
    }
    return {};
}

std::wstring PathOfHandle(HANDLE handle) {
    return UserFormOfPath(FinalPathOfHandle(handle));
}

std::string SystemReason(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return "system error " + std::to_string(error);
    std::wstring_view view(text, length);
    // The system's texts end with a full stop and a line end; the platform's reasons have none.
    while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r' || view.back() == L' ' ||
                             view.back() == L'.')) {
        view.remove_suffix(1);
    }
    std::string reason = Utf8OfWide(view);
    ::LocalFree(text);
    return reason;
}

void Handle::Reset(HANDLE handle) {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = Valid(handle);
}

HANDLE Handle::Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
}

int64_t ReadFully(HANDLE file, void* buffer, uint64_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint64_t total = 0;
    while (total < count) {
        const uint64_t left = count - total;
        DWORD got = 0;
        if (!::ReadFile(file, bytes + total,
                        static_cast<DWORD>(left < kMaxChunk ? left : kMaxChunk), &got, nullptr)) {
            // A pipe's writer that closed its end is the end of the input.
            if (::GetLastError() == ERROR_BROKEN_PIPE || ::GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (got == 0) break;
        total += got;
    }
    return static_cast<int64_t>(total);
}

bool WriteFully(HANDLE file, const void* bytes, uint64_t count) {
    const auto* next = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, next, static_cast<DWORD>(count < kMaxChunk ? count : kMaxChunk),
                         &written, nullptr)) {
            return false;
        }
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        next += written;
        count -= written;
    }
    return true;
}

bool FactsOf(HANDLE file, FileFacts& facts) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(file, &information)) return false;
    facts.attributes = information.dwFileAttributes;
    facts.size =
        (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    facts.links = information.nNumberOfLinks;
    facts.modified = information.ftLastWriteTime;
    facts.id = {
        information.dwVolumeSerialNumber,
        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    return true;
}

bool IsRegularFile(HANDLE file, const FileFacts& facts) {
    return ::GetFileType(file) == FILE_TYPE_DISK && !IsFolder(facts.attributes) &&
           (facts.attributes & FILE_ATTRIBUTE_DEVICE) == 0;
}

bool IsOwnedByRunningUser(HANDLE file) {
    if (!VolumeKeepsOwners(file)) return true;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result = ::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                           nullptr, nullptr, nullptr, &descriptor);
    const bool owned = result == ERROR_SUCCESS && owner != nullptr && IsRunningUsersSid(owner);
    if (descriptor != nullptr) ::LocalFree(descriptor);
    return owned;
}

bool IsSingleEntryName(std::wstring_view name) {
    if (name.empty() || name == L"." || name == L".." || !FitsCountedName(name)) return false;
    if (name.find_first_of(L"\\/:") != std::wstring_view::npos) return false;
    return IsPlainNameHere(Utf16Of(name));
}

NTSTATUS OpenBelow(HANDLE folder, std::wstring_view name, const RelativeOpen& how, Handle& opened) {
    opened.Reset();
    if (!IsSingleEntryName(name)) return kStatusObjectNameInvalid;
    UNICODE_STRING counted = CountedName(name);
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &counted, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status = {};
    HANDLE handle = nullptr;
    const NTSTATUS result = ::NtCreateFile(
        &handle, how.access | SYNCHRONIZE, &object, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
        how.share, how.disposition,
        how.options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(result)) opened.Reset(handle);
    return result;
}

// By the path the held folder has (which cannot change while it is held): Wine 8 does not
// resolve a name below a folder handle for an attribute query.
bool EntryIsReparsePoint(HANDLE folder, std::wstring_view name) {
    std::wstring path = FinalPathOfHandle(folder);
    if (path.empty()) return false;
    path += L'\\';
    path += name;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && IsReparsePoint(attributes);
}

NTSTATUS RenameInto(HANDLE file, HANDLE folder, std::wstring_view name, bool replace) {
    if (!FitsCountedName(name)) return kStatusObjectNameInvalid;
    if (!replace) return Rename(file, folder, name, kFileRenameInformation, 0);
    // A read-only entry at the name is replaced too, where the system can (Windows 10 1809 on).
    const NTSTATUS status =
        Rename(file, folder, name, kFileRenameInformationEx,
               kRenameReplaceIfExists | kRenamePosixSemantics | kRenameIgnoreReadOnly);
    if (!IsUnknownRequest(status)) return status;
    return Rename(file, folder, name, kFileRenameInformation, TRUE);
}

bool RemoveOnClose(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

DWORD ErrorOfStatus(NTSTATUS status) {
    const DWORD error = ::RtlNtStatusToDosError(status);
    ::SetLastError(error);
    return error;
}

std::wstring TemporaryName() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    const uint64_t unique =
        static_cast<uint64_t>(now.LowPart) ^ (g_temporaryCounter.fetch_add(1) << 32);
    const std::string name = winqor::TemporaryName(::GetCurrentProcessId(), unique);
    return std::wstring(name.begin(), name.end());  // ASCII only
}

bool AtomicReplacement::Begin(HANDLE folder, std::wstring name) {
    Abandon();
    if (!IsSingleEntryName(name)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    folder_ = folder;
    name_ = std::move(name);
    // No sharing: nothing else opens the file while it is written.
    const RelativeOpen create{FILE_GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE};
    NTSTATUS status = 0;
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        status = OpenBelow(folder_, TemporaryName(), create, file_);
        if (NT_SUCCESS(status)) return true;
        if (status != kStatusObjectNameCollision) break;  // another name
    }
    ErrorOfStatus(status);
    return false;
}

AtomicReplacement::Outcome AtomicReplacement::Commit(bool readOnly, bool durable) {
    if (!file_.valid()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return Outcome::kFailed;
    }
    Outcome outcome = Outcome::kFailed;
    if ((!readOnly || SetAttributes(file_.get(), FILE_ATTRIBUTE_READONLY)) &&
        (!durable || ::FlushFileBuffers(file_.get()))) {
        const NTSTATUS status = RenameInto(file_.get(), folder_, name_, true);
        ErrorOfStatus(status);
        outcome = NT_SUCCESS(status) ? Outcome::kDone : ReplaceByMovingAside();
    }
    if (outcome == Outcome::kDone) {
        file_.Reset();
        return outcome;
    }
    const DWORD error = ::GetLastError();
    Abandon();
    ::SetLastError(error);
    return outcome;
}

// The name's entry could not be replaced in one rename: a read-only file or a link to a
// folder where the system replaces neither (before Windows 10 1809, other file systems, a
// folder link anywhere). That entry is renamed to a temporary name of its own, the new file
// takes the name, and the old entry is removed; a real folder stays and is reported.
AtomicReplacement::Outcome AtomicReplacement::ReplaceByMovingAside() {
    const DWORD renameError = ::GetLastError();
    Handle old;
    FileFacts facts;
    const RelativeOpen entry{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0};
    if (!NT_SUCCESS(OpenBelow(folder_, name_, entry, old)) || !FactsOf(old.get(), facts)) {
        ::SetLastError(renameError);
        return Outcome::kFailed;
    }
    const bool link = IsReparsePoint(facts.attributes);
    if (!link && EntryIsReparsePoint(folder_, name_)) {
        // The system opened the link's target although asked for the link (Wine does with the
        // host's links): nothing is done through that handle.
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return Outcome::kFailed;
    }
    if (IsFolder(facts.attributes) && !link) {
        ::SetLastError(renameError);
        return Outcome::kFolderInTheWay;
    }
    NTSTATUS status = RenameInto(old.get(), folder_, TemporaryName(), false);
    if (!NT_SUCCESS(status)) {
        ErrorOfStatus(status);
        return Outcome::kFailed;
    }
    status = RenameInto(file_.get(), folder_, name_, false);
    if (!NT_SUCCESS(status)) {
        ErrorOfStatus(status);
        RenameInto(old.get(), folder_, name_, false);  // the old entry goes back
        return Outcome::kFailed;
    }
    RemoveMovedAside(old.get(), facts);
    return Outcome::kDone;
}

void AtomicReplacement::Abandon() {
    if (!file_.valid()) return;
    // A read-only file cannot be marked for removal.
    SetAttributes(file_.get(), FILE_ATTRIBUTE_NORMAL);
    RemoveOnClose(file_.get());
    file_.Reset();
}

bool ReplaceFileAtPath(const std::string& path, const void* bytes, uint64_t count,
                       std::string& reason) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) {
        reason = SystemReason(ERROR_INVALID_NAME);
        return false;
    }
    const size_t separator = wide.find_last_of(L"\\/");
    std::wstring folderPath = separator == std::wstring::npos ? L"." : wide.substr(0, separator);
    // "\name" is in the root of the current drive.
    if (folderPath.empty()) folderPath = L"\\";
    ExtendPath(folderPath);
    Handle folder(::CreateFileW(folderPath.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    AtomicReplacement file;
    if (!folder.valid() || !file.Begin(folder.get(), wide.substr(separator + 1)) ||
        !WriteFully(file.handle(), bytes, count)) {
        reason = LastReason();
        return false;
    }
    const AtomicReplacement::Outcome outcome = file.Commit(false, true);
    if (outcome == AtomicReplacement::Outcome::kDone) return true;
    reason = outcome == AtomicReplacement::Outcome::kFolderInTheWay ? "a folder has that name"
                                                                    : LastReason();
    return false;
}

}  // namespace winqor::win32
