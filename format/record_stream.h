// The record stream of a decoded payload: directory groups, each a directory record
// followed by the file records of that directory. Every record starts with a 32-byte header.
#pragma once

#include <cstdint>

namespace winqor {

inline constexpr uint32_t kEntryHeaderBytes = 32;

namespace entry_offset {
inline constexpr uint32_t kHeaderLength = 0;  // 32 + nameLength; never read
inline constexpr uint32_t kNameLength = 4;    // bytes of UTF-16 name, terminator included
inline constexpr uint32_t kAttributes = 8;    // file records only
inline constexpr uint32_t kSize = 12;         // group length, or a file's content bytes
inline constexpr uint32_t kFileTime = 16;     // FILETIME; never read
}  // namespace entry_offset

inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeArchive = 0x20;
inline constexpr uint32_t kAttributeNormal = 0x80;

}  // namespace winqor
