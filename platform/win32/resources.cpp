// The running program's resources are its PE resources, reached through the system's own
// calls; another file's appended table (resource_table.h) is read as on Linux.
#include "platform/win32/support.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/resources.h"

namespace winqor {

using namespace win32;
namespace {

// A resource of the running program that FindResource found: the entry its callers see, and
// the system's handle of it.
struct OwnResource {
    ResourceEntry entry;
    HRSRC found = nullptr;
};

// Only ever grows, and is never destroyed: the entries handed out stay valid for the life of
// the process.
std::deque<OwnResource>& OwnResources() {
    static auto* resources = new std::deque<OwnResource>;
    return *resources;
}

std::mutex& OwnResourcesLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

bool IsRunningProgram(const ResourceFile* module) {
    return module == nullptr || module == OwnProgramResources();
}

struct LanguageSearch {
    const wchar_t* type;
    uint16_t id;
    HRSRC found;
    uint32_t language;
};

BOOL CALLBACK MatchLanguage(HMODULE, const wchar_t*, const wchar_t*, WORD language,
                            LONG_PTR context) {
    auto* search = reinterpret_cast<LanguageSearch*>(context);
    if (::FindResourceExW(nullptr, search->type, MAKEINTRESOURCEW(search->id), language) ==
        search->found) {
        search->language = language;
        return FALSE;  // found: no need to look further
    }
    return TRUE;
}

// Which of the languages the system's search chose; it does not say so itself.
uint32_t LanguageOf(HRSRC found, const wchar_t* type, uint16_t id) {
    LanguageSearch search{type, id, found, kLanguageNeutral};
    ::EnumResourceLanguagesW(nullptr, type, MAKEINTRESOURCEW(id), MatchLanguage,
                             reinterpret_cast<LONG_PTR>(&search));
    return search.language;
}

ResourceHandle RememberOwnResource(HRSRC found, std::string_view type, uint16_t id,
                                   const wchar_t* wideType) {
    const std::lock_guard<std::mutex> hold(OwnResourcesLock());
    for (const OwnResource& resource : OwnResources()) {
        if (resource.found == found) return &resource.entry;
    }
    OwnResource& resource = OwnResources().emplace_back();
    resource.found = found;
    resource.entry.type = std::string(type);
    resource.entry.id = id;
    resource.entry.language = LanguageOf(found, wideType, id);
    resource.entry.size = ::SizeofResource(nullptr, found);
    return &resource.entry;
}

// FindResourceW's own search among the languages: neutral first.
ResourceHandle FindOwnResource(std::string_view type, uint32_t id) {
    std::wstring wideType;
    // A Windows resource id is 16 bits wide.
    if (id == 0 || id > 0xFFFF || !WidePathFromUtf8(std::string(type), wideType)) return nullptr;
    const auto shortId = static_cast<uint16_t>(id);
    const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(shortId), wideType.c_str());
    return found == nullptr ? nullptr : RememberOwnResource(found, type, shortId, wideType.c_str());
}

const void* LoadOwnResource(ResourceHandle resource) {
    HRSRC found = nullptr;
    {
        const std::lock_guard<std::mutex> hold(OwnResourcesLock());
        for (const OwnResource& own : OwnResources()) {
            if (&own.entry == resource) found = own.found;
        }
    }
    if (found == nullptr) return nullptr;
    const HGLOBAL loaded = ::LoadResource(nullptr, found);
    // The bytes stay where the loader mapped the program, for the life of the process.
    return loaded == nullptr ? nullptr : ::LockResource(loaded);
}

int64_t CurrentSize(HANDLE file) {
    LARGE_INTEGER size;
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) return -1;
    return size.QuadPart;
}

}  // namespace

ResourceFile::~ResourceFile() {
    if (mapping_ != nullptr) ::UnmapViewOfFile(mapping_);
    CloseFile(file_);
}

bool ResourceFile::Open(const std::string& path) {
    std::wstring wide;
    if (file_ != kInvalidHandle || !WidePathFromUtf8(path, wide)) return false;
    ExtendPath(wide);
    const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = FromHandle(file);
    // A program file is a file on a disk, never a pipe or a device.
    const int64_t size = CurrentSize(file);
    if (size < 0) return false;
    size_ = static_cast<uint64_t>(size);
    return ReadTable();
}

bool ResourceFile::ReadAt(uint64_t offset, uint8_t* buffer, uint64_t count) const {
    while (count > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD chunk = count < (1u << 30) ? static_cast<DWORD>(count) : (1u << 30);
        if (!::ReadFile(AsHandle(file_), buffer, chunk, &got, &at) || got == 0) return false;
        buffer += got;
        offset += got;
        count -= got;
    }
    return true;
}

const uint8_t* ResourceFile::Load(const ResourceEntry& entry) {
    if (file_ == kInvalidHandle || CurrentSize(AsHandle(file_)) != static_cast<int64_t>(size_)) {
        return nullptr;
    }
    if (entry.offset > size_ || entry.size > size_ - entry.offset || size_ == 0) return nullptr;
    if (mapping_ == nullptr) {
        // The view keeps the mapping object alive; its handle is not needed past this.
        Handle section(
            ::CreateFileMappingW(AsHandle(file_), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!section.valid()) return nullptr;
        mapping_ =
            static_cast<const uint8_t*>(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
        if (mapping_ == nullptr) return nullptr;
    }
    return mapping_ + entry.offset;
}

// Stands for the running program, whose resources the system's calls reach; its own table
// stays empty.
ResourceFile* OwnProgramResources() {
    static auto* const own = new ResourceFile;
    return own;
}

ResourceHandle FindResource(ResourceFile* module, std::string_view type, uint32_t id) {
    if (IsRunningProgram(module)) return FindOwnResource(type, id);
    return module->Find(type, id);
}

const void* LoadResource(ResourceFile* module, ResourceHandle resource) {
    if (resource == nullptr) return nullptr;
    if (IsRunningProgram(module)) return LoadOwnResource(resource);
    return module->Load(*resource);
}

bool WriteProgramFile(const std::string& path, std::span<const uint8_t> bytes,
                      std::string& reason) {
    return ReplaceFileAtPath(path, bytes.data(), bytes.size(), reason);
}

}  // namespace winqor
