// Folders held as handles. A held folder is opened without delete sharing: while the walk
// holds it, nobody renames or removes it, and Windows renames no folder above an open one
// either, so the path that a held folder has stays the path it had when it was opened.
#include "platform/win32/support.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/tree_writing.h"

namespace winqor {

using namespace win32;

// The state of a file being written: the Win32 AtomicReplacement.
class FileReplacement : public AtomicReplacement {
  public:
    bool parkedReadOnly = false;
};

namespace {

constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// Others may go on reading and writing below a held folder, but not rename or remove it.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE OpenFolderByPath(const std::wstring& path, bool followLink) {
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return ::CreateFileW(path.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING, flags,
                         nullptr);
}

bool IsReparsePointByPath(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && IsReparsePoint(attributes);
}

OpenRootResult OpenChosenRoot(const std::wstring& path, DirectoryHandle& root) {
    Handle folder(OpenFolderByPath(path, true));
    FileFacts facts;
    if (!folder.valid() || !FactsOf(folder.get(), facts) || !IsFolder(facts.attributes)) {
        return OpenRootResult::kFailed;
    }
    root = FromHandle(folder.Release());
    return OpenRootResult::kOpened;
}

// A folder that the running user may trust: a real folder of its own (one this run has just
// created is). Checked through the handle, so nothing swapped in after the check counts.
OpenRootResult OpenOwnedRoot(const std::wstring& path, DirectoryHandle& root) {
    Handle folder(OpenFolderByPath(path, false));
    FileFacts facts;
    if (!folder.valid() || !FactsOf(folder.get(), facts)) return OpenRootResult::kFailed;
    if (IsReparsePoint(facts.attributes) || IsReparsePointByPath(path)) {
        return OpenRootResult::kLink;
    }
    if (!IsFolder(facts.attributes)) return OpenRootResult::kFailed;
    if (!IsOwnedByRunningUser(folder.get())) return OpenRootResult::kNotOwned;
    root = FromHandle(folder.Release());
    return OpenRootResult::kOpened;
}

// Opens one component below parent, creating it first when it is the last and missing.
EnterResult OpenComponent(HANDLE parent, const std::wstring& name, bool last, Handle& opened) {
    const RelativeOpen how{kFolderAccess, kFolderShare, last ? ULONG{FILE_OPEN_IF} : FILE_OPEN,
                           FILE_DIRECTORY_FILE};
    if (!NT_SUCCESS(OpenBelow(parent, name, how, opened))) {
        return EntryIsReparsePoint(parent, name) ? EnterResult::kLinkRefused : EnterResult::kFailed;
    }
    FileFacts facts;
    if (!FactsOf(opened.get(), facts)) return EnterResult::kFailed;
    if (IsReparsePoint(facts.attributes) || EntryIsReparsePoint(parent, name)) {
        return EnterResult::kLinkRefused;
    }
    return EnterResult::kEntered;
}

Handle Duplicate(HANDLE handle) {
    HANDLE copy = nullptr;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, handle, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return Handle();
    }
    return Handle(copy);
}

bool IsCurrentDirectory(HANDLE folder) {
    Handle current(::CreateFileW(L".", FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FileFacts now, held;
    return current.valid() && FactsOf(current.get(), now) && FactsOf(folder, held) &&
           now.id == held.id;
}

std::wstring SystemCurrentDirectory() {
    std::wstring path(::GetCurrentDirectoryW(0, nullptr), L'\0');
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
    path.resize(length < path.size() ? length : 0);
    return path;
}

// Windows keeps a current directory of less than MAX_PATH units unless the system has long
// paths enabled. A held folder whose path is longer is made current here instead, for as
// long as nothing else changes the system's current directory: the walk reaches everything
// from handles, and the current directory's path is only shown.
struct LongCurrentDirectory {
    std::wstring path;
    std::wstring systemPath;  // the system's current directory when path was made current

    static LongCurrentDirectory& Get() {
        static LongCurrentDirectory current;
        return current;
    }
    bool Holds() {
        if (!path.empty() && SystemCurrentDirectory() != systemPath) path.clear();
        return !path.empty();
    }
};

bool IsPortDigit(char16_t c) {
    // Windows takes the superscripts one, two and three for port numbers too.
    return (c >= u'0' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
}

// The part before the first dot, trailing spaces dropped, names a device: "nul.txt" and
// "CON .txt" are the devices NUL and CON.
bool IsReservedDeviceName(std::u16string_view name) {
    std::u16string_view stem = name.substr(0, name.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
    std::u16string upper(stem);
    for (char16_t& c : upper) c = AsciiUpper(c);
    static constexpr std::array<std::u16string_view, 6> kDevices = {u"CON", u"PRN",    u"AUX",
                                                                    u"NUL", u"CONIN$", u"CONOUT$"};
    for (const std::u16string_view device : kDevices) {
        if (upper == device) return true;
    }
    const std::u16string_view port(upper);
    return port.size() == 4 && (port.starts_with(u"COM") || port.starts_with(u"LPT")) &&
           IsPortDigit(port[3]);
}

}  // namespace

MakeDirectoryResult MakeDirectory(const char16_t* path) {
    std::wstring wide;
    if (!WidePath(path, wide) || wide.empty()) return MakeDirectoryResult::kFailed;
    ExtendPath(wide);
    if (::CreateDirectoryW(wide.c_str(), nullptr)) return MakeDirectoryResult::kCreated;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) return MakeDirectoryResult::kAlreadyExists;
    // A drive's root ("C:\") is refused as access denied, yet is there.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES ? MakeDirectoryResult::kAlreadyExists
                                                 : MakeDirectoryResult::kFailed;
}

bool RemoveEmptyFolder(const char16_t* path) {
    std::wstring wide;
    return WidePath(path, wide) && !wide.empty() && ::RemoveDirectoryW(wide.c_str());
}

uint32_t GetCurrentDirectory(char16_t* buffer, uint32_t units) {
    if (buffer == nullptr || units == 0) return 0;
    LongCurrentDirectory& current = LongCurrentDirectory::Get();
    if (current.Holds()) {
        const std::wstring& remembered = current.path;
        if (remembered.size() >= units) return 0;
        std::copy(remembered.begin(), remembered.end(), buffer);
        buffer[remembered.size()] = 0;
        return static_cast<uint32_t>(remembered.size());
    }
    // When the path does not fit, the result is the size needed: larger than units - 1.
    const DWORD length = ::GetCurrentDirectoryW(units, reinterpret_cast<wchar_t*>(buffer));
    return length == 0 || length >= units ? 0 : length;
}

void CloseDirectory(DirectoryHandle folder) {
    if (folder != kInvalidDirectory) ::CloseHandle(AsHandle(folder));
}

// Windows keeps the current directory as a path: the held folder's path is made current, and
// the result is checked to be that very folder.
bool MakeCurrent(DirectoryHandle folder) {
    if (folder == kInvalidDirectory) return false;
    const std::wstring path = PathOfHandle(AsHandle(folder));
    if (path.empty()) return false;
    LongCurrentDirectory& current = LongCurrentDirectory::Get();
    if (::SetCurrentDirectoryW(path.c_str()) && IsCurrentDirectory(AsHandle(folder))) {
        current.path.clear();
        return true;
    }
    // The system's limit, with the backslash it adds: only a longer path is remembered.
    if (path.size() + 2 <= MAX_PATH) return false;
    current.path = path;
    current.systemPath = SystemCurrentDirectory();
    return true;
}

OpenRootResult OpenRootFolder(const char16_t* path, RootTrust trust, DirectoryHandle& root) {
    root = kInvalidDirectory;
    std::wstring wide;
    if (MakeDirectory(path) == MakeDirectoryResult::kFailed || !WidePath(path, wide)) {
        return OpenRootResult::kFailed;
    }
    ExtendPath(wide);
    return trust == RootTrust::kOwned ? OpenOwnedRoot(wide, root) : OpenChosenRoot(wide, root);
}

EnterResult EnterFolderBelow(DirectoryHandle root, const char16_t* const* components,
                             uint32_t count, DirectoryHandle& entered, bool createLast) {
    entered = kInvalidDirectory;
    if (root == kInvalidDirectory) return EnterResult::kFailed;
    // Every folder on the way stays open until the last one is: none of them can be renamed
    // or replaced by a link while the next is opened from it.
    std::vector<Handle> chain;
    HANDLE parent = AsHandle(root);
    for (uint32_t i = 0; i < count; ++i) {
        std::wstring name;
        Handle opened;
        if (!WidePath(components[i], name)) return EnterResult::kFailed;
        const EnterResult result =
            OpenComponent(parent, name, createLast && i + 1 == count, opened);
        if (result != EnterResult::kEntered) return result;
        chain.push_back(std::move(opened));
        parent = chain.back().get();
    }
    Handle folder = count == 0 ? Duplicate(AsHandle(root)) : std::move(chain.back());
    if (!folder.valid() || !MakeCurrent(FromHandle(folder.get()))) return EnterResult::kFailed;
    entered = FromHandle(folder.Release());
    return EnterResult::kEntered;
}

// The walk's chain: every folder from the root to the one entered last stays open, so none of
// them can be renamed or replaced while the walk goes on (a joined path holds at most kMaxPath
// units, so the chain holds at most half as many handles).
class FolderChain {
  public:
    explicit FolderChain(HANDLE root) : root_(root) {}

    EnterResult Enter(const std::vector<std::wstring>& names, uint32_t& reached, bool createLast) {
        entered_ = false;
        size_t common = 0;
        while (common < names.size() && common < levels_.size() &&
               levels_[common].name == names[common]) {
            ++common;
        }
        levels_.resize(common);
        reached = static_cast<uint32_t>(common);
        for (size_t i = common; i < names.size(); ++i) {
            Handle opened;
            const EnterResult result =
                OpenComponent(Deepest(), names[i], createLast && i + 1 == names.size(), opened);
            if (result != EnterResult::kEntered) return result;
            levels_.push_back({names[i], std::move(opened)});
            ++reached;
        }
        entered_ = MakeCurrent(FromHandle(Deepest()));
        return entered_ ? EnterResult::kEntered : EnterResult::kFailed;
    }

    HANDLE Deepest() const { return levels_.empty() ? root_ : levels_.back().folder.get(); }
    bool entered() const { return entered_; }
    void Forget() {
        levels_.clear();
        entered_ = false;
    }

  private:
    struct Level {
        std::wstring name;
        Handle folder;
    };
    HANDLE root_;
    std::vector<Level> levels_;
    bool entered_ = false;
};

FolderTrust TrustBelowChosenRoot() {
    return FolderTrust::kAny;
}

// No sandboxed child writes here: the folder is only seen to be there.
bool ReadFolderStanding(DirectoryHandle folder, FolderStanding& standing) {
    standing = {folder != kInvalidDirectory, 0, 0};
    return folder != kInvalidDirectory;
}

// Every folder is judged kAny here: nothing to learn.
void LearnFolderTrust() {}

FolderWalk::FolderWalk() = default;
FolderWalk::~FolderWalk() = default;

bool FolderWalk::Start(DirectoryHandle root, FolderTrust) {
    chain_.reset();
    if (root == kInvalidDirectory) return false;
    chain_ = std::make_unique<FolderChain>(AsHandle(root));
    return true;
}

EnterResult FolderWalk::Enter(const char16_t* const* components, uint32_t count, uint32_t& reached,
                              bool createLast) {
    return EnterConverted<std::wstring>(chain_.get(), components, count, reached, WidePath,
                                        createLast);
}

DirectoryHandle FolderWalk::current() const {
    return chain_ && chain_->entered() ? FromHandle(chain_->Deepest()) : kInvalidDirectory;
}

void FolderWalk::Close() {
    chain_.reset();
}

namespace {

ReplacingFile::Outcome OutcomeOf(AtomicReplacement::Outcome outcome) {
    switch (outcome) {
        case AtomicReplacement::Outcome::kDone:
            return ReplacingFile::Outcome::kDone;
        case AtomicReplacement::Outcome::kFolderInTheWay:
            return ReplacingFile::Outcome::kFolderInTheWay;
        default:
            return ReplacingFile::Outcome::kFailed;
    }
}

}  // namespace

ReplacingFile::ReplacingFile() = default;
ReplacingFile::~ReplacingFile() = default;

bool ReplacingFile::Create(DirectoryHandle folder, const char16_t* name) {
    std::wstring wide;
    replacement_ = std::make_unique<FileReplacement>();
    return folder != kInvalidDirectory && WidePath(name, wide) &&
           replacement_->Begin(AsHandle(folder), std::move(wide));
}

FileHandle ReplacingFile::handle() const {
    if (!replacement_ || replacement_->handle() == INVALID_HANDLE_VALUE) return kInvalidHandle;
    return FromHandle(replacement_->handle());
}

bool ReplacingFile::Identify(FileId& id) const {
    FileFacts facts;
    if (handle() == kInvalidHandle || !FactsOf(AsHandle(handle()), facts)) return false;
    id = facts.id;
    return true;
}

ReplacingFile::Outcome ReplacingFile::Commit(bool readOnly, uint32_t, bool) {
    if (handle() == kInvalidHandle) return Outcome::kFailed;
    return OutcomeOf(replacement_->Commit(readOnly, false));
}

void ReplacingFile::Abandon() {
    if (replacement_) replacement_->Abandon();
}

// A handle costs Windows little: the parked file stays open, unshared, until it is renamed.
bool ReplacingFile::Park(bool readOnly, uint32_t, bool) {
    if (handle() == kInvalidHandle) return false;
    replacement_->parkedReadOnly = readOnly;
    return true;
}

ReplacingFile::Outcome ReplacingFile::CommitParked(DirectoryHandle folder) {
    if (handle() == kInvalidHandle || folder == kInvalidDirectory) return Outcome::kFailed;
    return OutcomeOf(replacement_->CommitInto(AsHandle(folder), replacement_->parkedReadOnly));
}

void ReplacingFile::RemoveParked(DirectoryHandle) {
    Abandon();
}

NameHolds WhatNameHolds(DirectoryHandle folder, const char16_t* name) {
    std::wstring wide;
    Handle entry;
    FileFacts facts;
    const RelativeOpen look{FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0};
    if (folder == kInvalidDirectory || !WidePath(name, wide) ||
        !NT_SUCCESS(OpenBelow(AsHandle(folder), wide, look, entry)) ||
        !FactsOf(entry.get(), facts)) {
        return NameHolds::kNothing;
    }
    return IsFolder(facts.attributes) && !IsReparsePoint(facts.attributes) ? NameHolds::kFolder
                                                                           : NameHolds::kOther;
}

// NTFS compares names by their upper case, one UTF-16 unit at a time.
std::u16string FoldedName(std::u16string_view name) {
    std::wstring wide(name.begin(), name.end());
    if (!wide.empty()) ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return std::u16string(wide.begin(), wide.end());
}

std::u16string NewTemporaryName() {
    const std::wstring wide = TemporaryName();
    return std::u16string(wide.begin(), wide.end());
}

bool RenameFolderEntry(DirectoryHandle folder, const char16_t* from, const char16_t* to) {
    std::wstring source, target;
    Handle entry;
    const RelativeOpen open{DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            FILE_OPEN, FILE_DIRECTORY_FILE};
    return folder != kInvalidDirectory && WidePath(from, source) && WidePath(to, target) &&
           NT_SUCCESS(OpenBelow(AsHandle(folder), source, open, entry)) &&
           NT_SUCCESS(RenameInto(entry.get(), AsHandle(folder), target, false));
}

bool RemoveEntry(DirectoryHandle folder, const char16_t* name, bool isFolder) {
    std::wstring wide;
    Handle entry;
    const RelativeOpen open{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                            isFolder ? ULONG{FILE_DIRECTORY_FILE} : ULONG{FILE_NON_DIRECTORY_FILE}};
    if (folder == kInvalidDirectory || !WidePath(name, wide) ||
        !NT_SUCCESS(OpenBelow(AsHandle(folder), wide, open, entry))) {
        return false;
    }
    // A read-only file cannot be marked for removal.
    if (!isFolder) SetAttributes(entry.get(), FILE_ATTRIBUTE_NORMAL);
    return RemoveOnClose(entry.get());
}

uint32_t WriteToFile(FileHandle file, const void* buffer, uint32_t count) {
    if (file == kInvalidHandle || buffer == nullptr) return 0;
    // A short count tells the caller the write failed; how far it got does not matter then.
    return WriteFully(AsHandle(file), buffer, count) ? count : 0;
}

bool IsPlainNameHere(std::u16string_view name) {
    if (name.empty()) return false;
    for (const char16_t c : name) {
        if (c < 0x20 || std::u16string_view(u"<>:\"|?*\\/").find(c) != std::u16string_view::npos) {
            return false;
        }
    }
    // Windows drops a trailing dot or space: "a." and "a " would name the entry "a".
    if (name.back() == u'.' || name.back() == u' ') return false;
    return !IsReservedDeviceName(name);
}

}  // namespace winqor
