// The version information of a Windows program (its RT_VERSION resource, VS_VERSIONINFO):
// made from KEY=VALUE settings, and read back. Pure code.
//
// The resource is a tree of blocks (all integers little-endian, every block and value
// starting on a 32-bit boundary from the resource's start):
//
//   block:  length u16 (the block's bytes, its children included), valueLength u16 (bytes of
//           a binary value, UTF-16 units with the terminator of a text one), type u16
//           (1 text, 0 binary), key (UTF-16, terminated), padding, value, padding, children
//
//   VS_VERSION_INFO       value: VS_FIXEDFILEINFO (52 bytes, signature 0xFEEF04BD)
//     StringFileInfo
//       000004b0          a string table: language (4 hex digits) and code page 1200 (UTF-16)
//         CompanyName     value: the text
//         ...
//       040904b0          the same for English (United States)
//     VarFileInfo
//       Translation       value: (language u16, code page u16) for each string table
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace winqor {

inline constexpr uint32_t kRtVersion = 16;
// The id of a program's version resource (VS_VERSION_INFO).
inline constexpr uint32_t kVersionInfoId = 1;

// The keys a setting may name, in the order the string tables list them.
inline constexpr std::string_view kVersionInfoKeys[] = {
    "CompanyName",      "FileDescription", "FileVersion",    "InternalName", "LegalCopyright",
    "OriginalFilename", "ProductName",     "ProductVersion", "Comments"};

// The most UTF-16 units a value may have, which keeps the whole resource within the 64 KiB
// that its 16-bit lengths can count.
inline constexpr size_t kMaxVersionValueUnits = 1024;

// A string table: its key ("040904b0") and its strings, key and value.
struct VersionStringTable {
    std::u16string language;
    std::vector<std::pair<std::u16string, std::u16string>> strings;
};

struct VersionInfo {
    // Set by SetVersionInfo: the strings of every table, each key once, in kVersionInfoKeys'
    // order. Read back: those of the first table.
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    // Four 16-bit numbers, the most significant first, as VS_FIXEDFILEINFO holds them.
    uint64_t fileVersion = 0;
    uint64_t productVersion = 0;
    // Read back only: the string tables and the translations, (code page << 16) | language.
    std::vector<VersionStringTable> tables;
    std::vector<uint32_t> translations;
};

// Takes one "KEY=VALUE" setting: KEY one of kVersionInfoKeys, VALUE UTF-8, not empty, at most
// kMaxVersionValueUnits long. FileVersion must be up to four dotted numbers from 0 to 65535
// ("2.1.0.7"); it gives the fixed file version and, unless ProductVersion is such numbers too,
// the fixed product version. false, with reason set, for an unknown key, a key given twice, an
// empty or malformed value.
bool SetVersionInfo(std::string_view setting, VersionInfo& info, std::string& reason);

// The RT_VERSION resource of info's strings and fixed versions, with a string table for the
// neutral language and one for English (United States), both in UTF-16.
std::vector<uint8_t> BuildVersionResource(const VersionInfo& info);

// Reads an RT_VERSION resource: its fixed versions, every string table of its StringFileInfo
// and its translations. Every length is checked against its parent's. false, with reason set,
// when the bytes do not hold together.
bool ReadVersionResource(std::span<const uint8_t> resource, VersionInfo& info, std::string& reason);

}  // namespace winqor
