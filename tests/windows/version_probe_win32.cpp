// Reads a program's identity back the way Windows' own readers do: its version information
// through GetFileVersionInfoW and VerQueryValueW (as the properties sheet reads it), and the
// image that the icon group 128 gives for a size through LookupIconIdFromDirectoryEx and
// CreateIconFromResourceEx (as the shell picks one). Prints, one a line:
//
//   file version A.B.C.D
//   product version A.B.C.D
//   translation LLLLCCCC                 for each translation, in order
//   LLLLCCCC KEY=VALUE                   each key that table holds (UTF-8)
//   icon SIZE: WIDTHxHEIGHT              for 16, 32 and 256
//
//   version_probe PROGRAM.exe
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t* const kKeys[] = {L"CompanyName",  L"FileDescription", L"FileVersion",
                                L"InternalName", L"LegalCopyright",  L"OriginalFilename",
                                L"ProductName",  L"ProductVersion",  L"Comments"};

std::string Utf8(const wchar_t* text) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(utf8.empty() ? 0 : utf8.size() - 1);
    return utf8;
}

void PrintVersion(const char* what, DWORD high, DWORD low) {
    std::printf("%s version %lu.%lu.%lu.%lu\n", what, high >> 16, high & 0xFFFF, low >> 16,
                low & 0xFFFF);
}

bool PrintVersionInfo(const wchar_t* program) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(program, &ignored);
    std::vector<unsigned char> info(size);
    if (size == 0 || !::GetFileVersionInfoW(program, 0, size, info.data())) {
        std::printf("no version information (error %lu)\n", ::GetLastError());
        return false;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
        return false;
    }
    PrintVersion("file", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    PrintVersion("product", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    WORD* pairs = nullptr;
    if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                          reinterpret_cast<void**>(&pairs), &length)) {
        return false;
    }
    std::vector<std::wstring> tables;
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
        wchar_t table[9];
        std::swprintf(table, 9, L"%04x%04x", pairs[i], pairs[i + 1]);
        tables.push_back(table);
        std::printf("translation %s\n", Utf8(table).c_str());
    }
    for (const auto& table : tables) {
        for (const wchar_t* key : kKeys) {
            const std::wstring path = L"\\StringFileInfo\\" + table + L"\\" + key;
            wchar_t* value = nullptr;
            if (::VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value),
                                 &length) &&
                length > 0) {
                std::printf("%s %s=%s\n", Utf8(table.c_str()).c_str(), Utf8(key).c_str(),
                            Utf8(value).c_str());
            }
        }
    }
    return true;
}

const BYTE* ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type, DWORD& size) {
    HRSRC found = ::FindResourceW(module, name, type);
    if (found == nullptr) return nullptr;
    size = ::SizeofResource(module, found);
    return static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
}

// The image of group 128 that the system picks for a size, made into an icon.
void PrintIcon(HMODULE module, int side) {
    DWORD size = 0;
    const BYTE* group = ResourceBytes(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON, size);
    const int id = group == nullptr ? 0
                                    : ::LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group), TRUE,
                                                                    side, side, LR_DEFAULTCOLOR);
    const BYTE* image =
        id == 0 ? nullptr : ResourceBytes(module, MAKEINTRESOURCEW(id), RT_ICON, size);
    HICON icon = image == nullptr
                     ? nullptr
                     : ::CreateIconFromResourceEx(const_cast<BYTE*>(image), size, TRUE, 0x00030000,
                                                  side, side, LR_DEFAULTCOLOR);
    ICONINFO parts = {};
    BITMAP bitmap = {};
    if (icon == nullptr || !::GetIconInfo(icon, &parts) ||
        ::GetObjectW(parts.hbmColor, sizeof bitmap, &bitmap) == 0) {
        std::printf("icon %d: none\n", side);
        return;
    }
    std::printf("icon %d: %ldx%ld\n", side, bitmap.bmWidth, bitmap.bmHeight);
    ::DeleteObject(parts.hbmColor);
    ::DeleteObject(parts.hbmMask);
    ::DestroyIcon(icon);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: version_probe PROGRAM.exe\n", stderr);
        return 125;
    }
    const bool versioned = PrintVersionInfo(argv[1]);
    HMODULE module = ::LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("cannot load the program (error %lu)\n", ::GetLastError());
        return 1;
    }
    for (const int side : {16, 32, 256}) PrintIcon(module, side);
    ::FreeLibrary(module);
    return versioned ? 0 : 1;
}
