#include "support/fixtures_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>

#include "support/test_support.h"

namespace winqor::test {
namespace {

constexpr DWORD kUnprivilegedSymbolicLink = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
constexpr DWORD kPrintWide = 0x4001000A;          // DBG_PRINTEXCEPTION_WIDE_C
constexpr DWORD kPrintAnsi = 0x40010006;          // DBG_PRINTEXCEPTION_C

DWORD AttributesOf(const fs::path& path) {
    return ::GetFileAttributesW(path.c_str());
}

bool IsWine();
bool RunHostProgram(const wchar_t* program, std::wstring command, const fs::path& folder,
                    const std::function<bool()>& done);

// A link is removed itself. Under Wine, whose calls act on a host link's target, the host
// removes it.
void RemoveLink(const fs::path& link) {
    if (!IsWine()) {
        if (!::RemoveDirectoryW(link.c_str())) ::DeleteFileW(link.c_str());
        return;
    }
    RunHostProgram(L"Z:\\bin\\rm", L"/bin/rm -f \"" + link.filename().wstring() + L"\"",
                   link.parent_path(),
                   [&] { return AttributesOf(link) == INVALID_FILE_ATTRIBUTES; });
}

// Removes every link in a tree, never entering one.
void RemoveLinks(const fs::path& folder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const DWORD attributes = AttributesOf(entry.path());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            RemoveLink(entry.path());
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveLinks(entry.path());
        }
    }
}

// Removes a tree that holds no link any more.
void RemoveFiles(const fs::path& folder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const fs::path& path = entry.path();
        const DWORD attributes = AttributesOf(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveFiles(path);
        } else {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
    }
    ::RemoveDirectoryW(folder.c_str());
}

// Links go first, while their targets are there: Wine lists no link whose target is gone.
void RemoveTree(const fs::path& folder) {
    RemoveLinks(folder);
    RemoveFiles(folder);
}

bool IsWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool MakeSymbolicLink(const fs::path& link, const fs::path& target, bool folder) {
    const DWORD flags = kUnprivilegedSymbolicLink | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    return ::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) && IsReparsePoint(link);
}

// A junction: an empty folder given a mount-point reparse point that names target.
bool MakeJunction(const fs::path& link, const fs::path& target) {
    if (!::CreateDirectoryW(link.c_str(), nullptr)) return false;
    const std::wstring substitute = L"\\??\\" + fs::absolute(target).wstring();
    const std::wstring shown = fs::absolute(target).wstring();
    std::vector<BYTE> buffer(16 + (substitute.size() + shown.size() + 2) * sizeof(wchar_t));
    auto* words = reinterpret_cast<USHORT*>(buffer.data());
    const auto substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const auto shownBytes = static_cast<USHORT>(shown.size() * sizeof(wchar_t));
    *reinterpret_cast<DWORD*>(buffer.data()) = IO_REPARSE_TAG_MOUNT_POINT;
    words[2] = static_cast<USHORT>(buffer.size() - 8);    // data length
    words[4] = 0;                                         // substitute name offset
    words[5] = substituteBytes;                           // substitute name length
    words[6] = static_cast<USHORT>(substituteBytes + 2);  // shown name offset
    words[7] = shownBytes;                                // shown name length
    std::memcpy(buffer.data() + 16, substitute.c_str(), substituteBytes + 2);
    std::memcpy(buffer.data() + 16 + substituteBytes + 2, shown.c_str(), shownBytes + 2);
    const HANDLE handle =
        ::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    const bool made =
        handle != INVALID_HANDLE_VALUE &&
        ::DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                          static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    if (!made) ::RemoveDirectoryW(link.c_str());
    return made && IsReparsePoint(link);
}

// Wine starts the host's own programs too, in the folder given, but gives no handle that can
// be waited for: what the program does is waited for instead, until done says it is there
// (ten seconds at most).
bool RunHostProgram(const wchar_t* program, std::wstring command, const fs::path& folder,
                    const std::function<bool()>& done) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &process)) {
        return false;
    }
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (!done()) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(10);
    }
    return true;
}

// ln makes a symbolic link of the host, named relative to the link's folder.
bool MakeHostLink(const fs::path& link, const fs::path& target) {
    const std::wstring relative = fs::relative(target, link.parent_path()).generic_wstring();
    return RunHostProgram(
        L"Z:\\bin\\ln", L"/bin/ln -s \"" + relative + L"\" \"" + link.filename().wstring() + L"\"",
        link.parent_path(), [&] { return AttributesOf(link) != INVALID_FILE_ATTRIBUTES; });
}

std::mutex g_captureLock;
std::vector<DebugOutput> g_captured;

LONG CALLBACK CaptureDebugOutput(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if ((record.ExceptionCode != kPrintWide && record.ExceptionCode != kPrintAnsi) ||
        record.NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    // The first parameter counts the terminator too.
    const auto units = static_cast<size_t>(record.ExceptionInformation[0]);
    DebugOutput output;
    output.wide = record.ExceptionCode == kPrintWide;
    if (output.wide) {
        const auto* wide = reinterpret_cast<const char16_t*>(record.ExceptionInformation[1]);
        output.text.assign(wide, units > 0 ? units - 1 : 0);
    } else {
        const auto* narrow = reinterpret_cast<const unsigned char*>(record.ExceptionInformation[1]);
        output.text.assign(narrow, narrow + (units > 0 ? units - 1 : 0));
    }
    const std::lock_guard<std::mutex> hold(g_captureLock);
    g_captured.push_back(output);
    // Taken, as a debugger takes it: the system sends it no further.
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void RemoveTemporaryTree(const fs::path& root) {
    RemoveTree(root);
}

void SetReadOnly(const fs::path& path, bool readOnly) {
    const DWORD attributes = AttributesOf(path) & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW(path.c_str(),
                         readOnly ? attributes | FILE_ATTRIBUTE_READONLY
                                  : (attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes));
}

bool IsReadOnly(const fs::path& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool IsReparsePoint(const fs::path& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

LinkMade MakeLink(const fs::path& link, const fs::path& target, bool folder, std::string& why) {
    if (MakeSymbolicLink(link, target, folder)) return LinkMade::kSystem;
    if (folder && MakeJunction(link, target)) return LinkMade::kSystem;
    if (IsWine() && MakeHostLink(link, target)) return LinkMade::kHost;
    why = "this system makes no symbolic link or junction here";
    return LinkMade::kNone;
}

void SetEnvironment(const char* name, const char* value) {
    const std::string narrowName(name);
    const std::wstring wideName(narrowName.begin(), narrowName.end());
    const std::string narrowValue(value != nullptr ? value : "");
    const std::wstring wideValue(narrowValue.begin(), narrowValue.end());
    ::SetEnvironmentVariableW(wideName.c_str(), value == nullptr ? nullptr : wideValue.c_str());
}

std::u16string AnsiForm(const std::u16string& text) {
    const auto* wide = reinterpret_cast<const wchar_t*>(text.c_str());
    const int units = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, units, ansi.data(), bytes, nullptr, nullptr);
    const auto* first = reinterpret_cast<const unsigned char*>(ansi.data());
    return std::u16string(first, first + ansi.size());
}

DebugOutputCapture::DebugOutputCapture()
    : handler_(::AddVectoredExceptionHandler(1, CaptureDebugOutput)) {
    const std::lock_guard<std::mutex> hold(g_captureLock);
    g_captured.clear();
}

DebugOutputCapture::~DebugOutputCapture() {
    ::RemoveVectoredExceptionHandler(handler_);
}

std::vector<DebugOutput> DebugOutputCapture::Texts() const {
    const std::lock_guard<std::mutex> hold(g_captureLock);
    return g_captured;
}

}  // namespace winqor::test
