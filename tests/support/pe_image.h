// Small Windows programs (PE32+ files) made from bytes for the tests: DOS and PE headers, a
// code section and a resource section holding the given resources. The resource tree is laid
// out depth first (each directory followed by what lies below it), unlike the tree that
// AddPeResources writes, so that a reader is tested on another writer's layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winqor::test {

// A type, name or language: a string when name is not empty, else the integer id.
struct PeTestKey {
    std::u16string name;
    uint32_t id = 0;
};

struct PeTestResource {
    PeTestKey type;
    PeTestKey name;
    uint32_t language = 0;
    std::vector<uint8_t> data;
};

struct PeImageOptions {
    uint16_t magic = 0x20B;          // 0x10B makes a 32-bit (PE32) program
    uint32_t sizeOfHeaders = 0x200;  // room for 3 more section headers
    bool isSigned = false;           // a security data directory
    uint32_t symbols = 0;            // a COFF symbol table of that many symbols after the sections
    std::vector<uint8_t> trailing;   // other bytes after the sections (and the symbols)
};

// Where the parts of a built image are, for tests that change them.
struct PeImage {
    std::vector<uint8_t> bytes;
    uint64_t treeOffset = 0;  // the resource tree
    uint64_t sectionCountOffset = 0;
    uint64_t checksumOffset = 0;
    uint64_t symbolTableOffset = 0;  // the COFF header's PointerToSymbolTable field
};

// Within each directory the named entries come first, in the order given, then the ids.
PeImage BuildPeImage(const std::vector<PeTestResource>& resources,
                     const PeImageOptions& options = {});

// The resource section of a one-resource image has a fixed layout, for tests that damage it:
// offsets from the start of the tree.
namespace one_resource_tree {
inline constexpr uint64_t kRootCounts = 12;  // named and id entries, 16 bits each
inline constexpr uint64_t kRootChild = 20;   // the type's directory
inline constexpr uint64_t kTypeChild = 44;   // the name's directory
inline constexpr uint64_t kDataEntryRva = 72;
inline constexpr uint64_t kDataEntrySize = 76;
inline constexpr uint64_t kTypeNameLength = 88;  // when the type is named
}  // namespace one_resource_tree

uint32_t ReadLe16At(const std::vector<uint8_t>& bytes, uint64_t offset);
uint32_t ReadLe32At(const std::vector<uint8_t>& bytes, uint64_t offset);
void WriteLe32At(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value);

}  // namespace winqor::test
