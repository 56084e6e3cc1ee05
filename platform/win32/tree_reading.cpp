// Folder trees read for writers. Below a held folder every entry is opened from its parent's
// handle without following a reparse point (a symbolic link, a junction, a mount point).
#include "platform/win32/support.h"

#include <string>
#include <utility>

#include "platform/tree_reading.h"

namespace winqor {

using namespace win32;
namespace {

constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Others may go on reading and writing below a held folder, but not rename or remove it.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kListingBytes = 64 * 1024;

// FILETIME counts 100 ns ticks since 1601-01-01; the Unix epoch is this many ticks later.
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;

int64_t Ticks(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

void SetModified(int64_t ticks, FolderEntry& entry) {
    const int64_t sinceEpoch = ticks - kUnixEpochTicks;
    int64_t seconds = sinceEpoch / kTicksPerSecond;
    int64_t rest = sinceEpoch % kTicksPerSecond;
    if (rest < 0) {  // before 1970: the seconds round down, the fraction stays positive
        rest += kTicksPerSecond;
        --seconds;
    }
    entry.modifiedSeconds = seconds;
    entry.modifiedNanoseconds = static_cast<uint32_t>(rest * 100);
}

// Every reparse point is a link here: none is ever followed below a held folder.
EntryKind KindOf(DWORD attributes, bool onDisk) {
    if (IsReparsePoint(attributes)) return EntryKind::kLink;
    if (IsFolder(attributes)) return EntryKind::kFolder;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0 || !onDisk) return EntryKind::kSpecial;
    return EntryKind::kFile;
}

void FillEntry(DWORD attributes, bool onDisk, uint64_t size, int64_t modified, FileId id,
               FolderEntry& entry) {
    entry.kind = KindOf(attributes, onDisk);
    entry.size = size;
    entry.ownerWritable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
    SetModified(modified, entry);
    entry.id = id;
}

bool DescribeHandle(HANDLE handle, FolderEntry& entry) {
    FileFacts facts;
    if (!FactsOf(handle, facts)) return false;
    FillEntry(facts.attributes, ::GetFileType(handle) == FILE_TYPE_DISK, facts.size,
              Ticks(facts.modified), facts.id, entry);
    return true;
}

bool IsDotOrDotDot(std::wstring_view name) {
    return name == L"." || name == L"..";
}

// Appends the entries of one buffer of the listing.
void ReadListing(const std::byte* buffer, uint64_t device, std::vector<FolderEntry>& entries) {
    for (;;) {
        const auto* item = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer);
        const std::wstring_view name(item->FileName, item->FileNameLength / sizeof(wchar_t));
        if (!IsDotOrDotDot(name)) {
            FolderEntry entry;
            entry.name = Utf8OfWide(name);
            FillEntry(item->FileAttributes, true, static_cast<uint64_t>(item->EndOfFile.QuadPart),
                      item->LastWriteTime.QuadPart,
                      {device, static_cast<uint64_t>(item->FileId.QuadPart)}, entry);
            entries.push_back(std::move(entry));
        }
        if (item->NextEntryOffset == 0) return;
        buffer += item->NextEntryOffset;
    }
}

// Why name below folder could not be opened as a folder: says what stands there now when
// that is what stopped it.
std::string WhyNotAFolder(HANDLE folder, const std::wstring& name, NTSTATUS status) {
    if (EntryIsReparsePoint(folder, name)) return "it is a symbolic link now";
    if (status == kStatusNotADirectory) return "it is no longer a folder";
    return SystemReason(ErrorOfStatus(status));
}

}  // namespace

void FolderHandle::Close() {
    if (handle_ != kInvalidHandle) ::CloseHandle(AsHandle(handle_));
    handle_ = kInvalidHandle;
}

bool FolderHandle::Open(const std::string& path, std::string& reason) {
    Close();
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) {
        reason = SystemReason(ERROR_INVALID_NAME);
        return false;
    }
    ExtendPath(wide);
    Handle folder(::CreateFileW(wide.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FileFacts facts;
    if (!folder.valid() || !FactsOf(folder.get(), facts)) {
        reason = LastReason();
        return false;
    }
    if (!IsFolder(facts.attributes)) {
        reason = SystemReason(ERROR_DIRECTORY);
        return false;
    }
    handle_ = FromHandle(folder.Release());
    return true;
}

bool FolderHandle::OpenChild(const FolderHandle& parent, const std::string& name,
                             const std::optional<FileId>& expected, std::string& reason) {
    Close();
    std::wstring wide;
    if (!WidePathFromUtf8(name, wide)) {
        reason = SystemReason(ERROR_INVALID_NAME);
        return false;
    }
    const HANDLE folder = AsHandle(parent.handle_);
    Handle child;
    const NTSTATUS status = OpenBelow(
        folder, wide, {kFolderAccess, kFolderShare, FILE_OPEN, FILE_DIRECTORY_FILE}, child);
    if (!NT_SUCCESS(status)) {
        reason = WhyNotAFolder(folder, wide, status);
        return false;
    }
    FileFacts facts;
    if (!FactsOf(child.get(), facts)) {
        reason = LastReason();
        return false;
    }
    if (IsReparsePoint(facts.attributes) || EntryIsReparsePoint(folder, wide)) {
        reason = "it is a symbolic link now";
        return false;
    }
    if (expected && !(facts.id == *expected)) {
        reason = "it was replaced by another folder";
        return false;
    }
    handle_ = FromHandle(child.Release());
    return true;
}

// The listing is read from the held handle itself, from its start each time.
bool FolderHandle::List(std::vector<FolderEntry>& entries, std::string& reason) const {
    entries.clear();
    FileFacts folder;
    if (handle_ == kInvalidHandle || !FactsOf(AsHandle(handle_), folder)) {
        reason = LastReason();
        return false;
    }
    std::vector<std::byte> buffer(kListingBytes);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(AsHandle(handle_), kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size()))) {
        ReadListing(buffer.data(), folder.id.device, entries);
        kind = FileIdBothDirectoryInfo;
    }
    if (::GetLastError() == ERROR_NO_MORE_FILES) return true;
    reason = LastReason();
    return false;
}

bool DescribePath(const std::string& path, bool followLink, FolderEntry& entry) {
    std::wstring wide;
    if (!WidePathFromUtf8(path, wide)) return false;
    ExtendPath(wide);
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    Handle file(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              flags, nullptr));
    if (!file.valid() || !DescribeHandle(file.get(), entry)) return false;
    // A system that follows a link on open still shows it by its name.
    const DWORD attributes = followLink ? 0 : ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && IsReparsePoint(attributes)) {
        entry.kind = EntryKind::kLink;
    }
    return true;
}

std::string JoinNativePath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '\\' || last == '/' ? folder + name : folder + '\\' + name;
}

}  // namespace winqor
