// The resources of a Windows program (a PE32+ file): the three-level tree of its resource
// data directory read, and a copy of the program written with entries added or replaced.
// Pure code: no system calls, usable on any file's bytes, on any system.
//
// The tree, as the loader reads it (all integers little-endian):
//
//   directory (16 bytes): characteristics u32, time stamp u32, version u16 u16,
//                         namedCount u16, idCount u16; then namedCount + idCount entries
//   entry (8 bytes):      nameOrId u32  high bit set: offset of a length-prefixed UTF-16
//                                       name, else an integer id
//                         child u32     high bit set: offset of a directory, else of a
//                                       data entry
//   data entry (16 bytes): data RVA u32, size u32, code page u32, reserved u32
//
// Offsets are from the start of the tree; the data entry's RVA is an address in the loaded
// image, mapped to the file through the section table. Level 1 is the type (SETUP_ARCHIVE
// is a named type), level 2 the name or id (131), level 3 the language (0 neutral, 1033).
//
// A program written here keeps every section of its input and gains one, ".wqrsrc", at its
// end that holds the complete new tree and every resource's bytes; the resource data
// directory points at it. A program that already has that section gets it replaced, so
// the section count stays the same however often a program is rewritten.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winqor {

// The type name of the self-extracting archive as Windows stores it.
inline constexpr std::u16string_view kSetupArchiveTypeUtf16 = u"SETUP_ARCHIVE";
// The section that AddPeResources appends (a section name has at most 8 bytes).
inline constexpr std::string_view kPeResourceSectionName = ".wqrsrc";

// A type, a name or a language: an integer id or a UTF-16 string. A name is not copied: it
// is a view of its little-endian units in the bytes read, so a tree that names one long
// string from many entries costs no more memory than it takes in the file.
struct PeKey {
    bool named = false;
    uint32_t id = 0;                // when not named
    std::span<const uint8_t> text;  // when named: 2 bytes a unit, little-endian
};

// The name of a named key as a string (for messages and tests).
std::u16string PeKeyText(const PeKey& key);

struct PeResource {
    PeKey type;
    PeKey name;
    PeKey language;
    uint64_t offset = 0;  // where the bytes are in the file
    uint32_t size = 0;
    uint32_t codePage = 0;
};

enum class PeStatus {
    kValid,        // a PE32+ program whose tree (possibly empty) holds together
    kNotPe,        // no "MZ" header leading to a "PE\0\0" signature
    kUnsupported,  // a PE, but not one this code reads: a 32-bit (PE32) program
    kDamaged,      // headers, sections or resource tree that do not hold together
};

// Whether bytes start like a PE file: "MZ", and the "PE\0\0" signature where the DOS header
// says, when bytes reach that far. head may be the file's first bytes only.
bool LooksLikePe(std::span<const uint8_t> head);

// Every resource of file in the tree's order. resources is empty unless the result is
// kValid; reason says what is wrong otherwise. The names in resources are views of file's
// bytes, valid while they are. Every resource's bytes lie inside file, even an empty one's.
PeStatus ReadPeResources(std::span<const uint8_t> file, std::vector<PeResource>& resources,
                         std::string& reason);

// The resource of that named type (compared as Windows compares names, ignoring case) and
// integer id, languages searched as FindResourceW does: neutral first, then English (United
// States), then any other in tree order; null when there is none.
const PeResource* FindPeResource(const std::vector<PeResource>& resources, std::u16string_view type,
                                 uint32_t id);

// A resource to add: a named type (or, when type is empty, the integer type typeId), an
// integer id and language.
struct PeNewResource {
    std::u16string_view type;
    uint32_t id = 0;
    uint32_t language = 0;
    std::span<const uint8_t> data;
    uint32_t typeId = 0;  // RT_ICON (3), RT_GROUP_ICON (14), RT_VERSION (16), ...
};

// Resources to leave out of a rewrite: every language of an integer type and a name or id.
struct PeRemoval {
    uint32_t type = 0;
    PeKey name;
};

// Whether AddPeResources can rewrite file, checked before anything is made to add. false,
// with reason set, when it cannot (see AddPeResources). Only a program that Windows loads as
// the stub of a self-extracting program is taken: an x86-64 executable, not a DLL, whose
// FileAlignment is a power of two from 512 to 64 KiB and whose SectionAlignment is no
// smaller; reason names the rule another breaks.
bool CanAddPeResources(std::span<const uint8_t> file, std::string& reason);

// A copy of the program file with its resources plus additions (an addition replaces every
// resource of the same type, id and language), in a ".wqrsrc" section at its end; the
// CheckSum is recomputed. A COFF symbol table after the sections (an unstripped build)
// moves behind the new section. false, with reason set, when file is no PE32+
// program, is signed, has no room for another section header, carries a damaged resource
// tree or one with a directory that lists a key twice (ids equal, or names equal but for
// case: Windows finds one of them, the rewrite could not keep which), or has other data after
// its last section, or when the new tree would take more than twice the program's size plus
// the additions (resources that share their bytes).
bool AddPeResources(std::span<const uint8_t> file, std::span<const PeNewResource> additions,
                    std::vector<uint8_t>& out, std::string& reason);

// AddPeResources that also leaves out every existing resource a removal names (the images
// of an icon replaced, say); a removal that names nothing is no failure.
bool EditPeResources(std::span<const uint8_t> file, std::span<const PeNewResource> additions,
                     std::span<const PeRemoval> removals, std::vector<uint8_t>& out,
                     std::string& reason);

// The PE checksum of file: the 16-bit folding sum of its 16-bit words, the 4 bytes at
// checksumOffset taken as 0, plus the file's length.
uint32_t PeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset);

}  // namespace winqor
