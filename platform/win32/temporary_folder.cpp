#include "platform/win32/support.h"

#include <string>

#include "platform/temporary_folder.h"

namespace winqor {

using namespace win32;
namespace {

constexpr int kMaxRemovalDepth = 256;
constexpr int kNameAttempts = 100;

bool IsDotName(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// false, with reason set to the entry and the system's reason.
bool Refused(const std::wstring& path, std::string& reason) {
    reason = Utf8OfWide(path) + " (" + LastReason() + ")";
    return false;
}

// A read-only file cannot be deleted until it is made writable.
bool RemoveFile(const std::wstring& path, DWORD attributes, std::string& reason) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    return ::DeleteFileW(path.c_str()) != 0 || Refused(path, reason);
}

// A reparse point (a link, a junction) is removed itself; what it points to is left alone.
bool RemoveEntry(const std::wstring& path, DWORD attributes, int depth, std::string& reason);

bool EmptyFolder(const std::wstring& folder, int depth, std::string& reason) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return Refused(folder, reason);
    bool removed = true;
    do {
        if (IsDotName(found.cFileName)) continue;
        removed = RemoveEntry(folder + L"\\" + found.cFileName, found.dwFileAttributes, depth + 1,
                              reason);
    } while (removed && ::FindNextFileW(search, &found));
    ::FindClose(search);
    return removed;
}

bool RemoveEntry(const std::wstring& path, DWORD attributes, int depth, std::string& reason) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return RemoveFile(path, attributes, reason);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        if (depth >= kMaxRemovalDepth) {
            reason =
                Utf8OfWide(path) + " (more than " + std::to_string(kMaxRemovalDepth) + " levels)";
            return false;
        }
        if (!EmptyFolder(path, depth, reason)) return false;
    }
    return ::RemoveDirectoryW(path.c_str()) != 0 || Refused(path, reason);
}

}  // namespace

// The user's temporary folder is the user's own; the new folder inherits its permissions.
bool MakePrivateTemporaryFolder(std::u16string& path, std::string& reason) {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        reason = "the user's temporary folder cannot be named";
        return false;
    }
    const unsigned seed = ::GetCurrentProcessId() ^ ::GetTickCount();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // The digits through std::to_string: std::to_wstring would bring mingw-w64's wide
        // printf into the program for them.
        const std::string digits = std::to_string(seed + attempt);
        const std::wstring candidate =
            std::wstring(base, length) + L"winqor-" + std::wstring(digits.begin(), digits.end());
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            path = Utf16Of(candidate);
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return Refused(candidate, reason);
    }
    reason = "every name tried in the user's temporary folder is taken";
    return false;
}

bool RemoveTree(const std::u16string& path, std::string& reason) {
    std::wstring wide;
    if (!WidePath(path.c_str(), wide) || wide.empty()) {
        reason = "not a path";
        return false;
    }
    const size_t separator = wide.find_last_of(L"\\/");
    if (separator != std::wstring::npos) {
        ::SetCurrentDirectoryW(wide.substr(0, separator == 2 ? 3 : separator).c_str());
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Refused(wide, reason);
    return RemoveEntry(wide, attributes, 0, reason);
}

void AdoptDescendants() {}

void WaitForDescendants() {}

}  // namespace winqor
