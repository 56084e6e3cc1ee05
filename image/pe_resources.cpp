#include "image/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <tuple>
#include <utility>

#include "base/little_endian.h"
#include "base/text.h"
#include "image/pe_tree_work.h"

namespace winqor {

PeTreeWork& PeTreeWorkOnThisThread() {
    thread_local PeTreeWork work;
    return work;
}

namespace {

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

constexpr uint64_t kDosHeaderBytes = 64;
constexpr uint64_t kPeOffsetField = 0x3C;
constexpr uint8_t kPeSignature[4] = {'P', 'E', 0, 0};
constexpr uint64_t kCoffHeaderBytes = 20;
constexpr uint32_t kMagicPe32 = 0x10B;
constexpr uint32_t kMagicPe32Plus = 0x20B;
// A PE32+ optional header before its data directories.
constexpr uint64_t kOptionalFixedBytes = 112;
constexpr uint64_t kDataDirectoryBytes = 8;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint64_t kSectionHeaderBytes = 40;
constexpr uint64_t kMaxSections = 0xFFFF;  // the count is 16-bit
constexpr uint64_t kSymbolBytes = 18;
// Initialized data, readable: what a resource section is.
constexpr uint32_t kResourceSectionCharacteristics = 0x40000040;
constexpr uint32_t kMaxAlignment = 1u << 28;
constexpr uint32_t kHighBit = 0x80000000;
// What Windows loads as a program: x86-64 code, an executable image that is no DLL, its file
// alignment a power of two from 512 bytes to 64 KiB.
constexpr uint32_t kMachineAmd64 = 0x8664;
constexpr uint32_t kExecutableImage = 0x0002;
constexpr uint32_t kDllImage = 0x2000;
constexpr uint32_t kMinFileAlignment = 512;
constexpr uint32_t kMaxFileAlignment = 64 * 1024;
// The rewritten tree may take this much beyond twice the program and the additions: the
// directories and names of a tree that the resource compiler packs tighter than we do.
constexpr uint64_t kTreeSlack = 1 << 20;

namespace coff_field {
constexpr uint64_t kMachine = 0;
constexpr uint64_t kSectionCount = 2;
constexpr uint64_t kSymbolTable = 8;
constexpr uint64_t kSymbolCount = 12;
constexpr uint64_t kOptionalBytes = 16;
constexpr uint64_t kCharacteristics = 18;
}  // namespace coff_field

namespace optional_field {
constexpr uint64_t kMagic = 0;
constexpr uint64_t kSizeOfInitializedData = 8;
constexpr uint64_t kSectionAlignment = 32;
constexpr uint64_t kFileAlignment = 36;
constexpr uint64_t kSizeOfImage = 56;
constexpr uint64_t kSizeOfHeaders = 60;
constexpr uint64_t kCheckSum = 64;
constexpr uint64_t kDirectoryCount = 108;
}  // namespace optional_field

namespace section_field {
constexpr uint64_t kVirtualSize = 8;
constexpr uint64_t kVirtualAddress = 12;
constexpr uint64_t kRawSize = 16;
constexpr uint64_t kRawOffset = 20;
constexpr uint64_t kCharacteristics = 36;
}  // namespace section_field

namespace tree_field {
constexpr uint64_t kNamedCount = 12;
constexpr uint64_t kIdCount = 14;
constexpr uint64_t kDirectoryBytes = 16;
constexpr uint64_t kEntryBytes = 8;
constexpr uint64_t kDataEntryBytes = 16;
constexpr uint64_t kDataAlignment = 8;
constexpr uint64_t kMaxEntries = 0xFFFF;
}  // namespace tree_field

struct Section {
    std::string name;
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

// Where the headers are and what they say.
struct Layout {
    uint64_t fileSize = 0;
    uint64_t coff = 0;  // the COFF file header, after the signature
    uint32_t machine = 0;
    uint32_t characteristics = 0;
    uint64_t optional = 0;  // the optional header
    uint64_t sectionTable = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t sizeOfInitializedData = 0;
    uint32_t symbolTable = 0;
    uint32_t symbolCount = 0;
    uint32_t directoryCount = 0;
    DataDirectory resources;
    DataDirectory security;
    std::vector<Section> sections;
};

PeStatus Damaged(std::string& reason, std::string_view why) {
    reason = "damaged Windows program: " + std::string(why);
    return PeStatus::kDamaged;
}

PeStatus TreeDamaged(std::string& reason, std::string_view why) {
    return Damaged(reason, "its resource tree does not hold together (" + std::string(why) + ")");
}

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// The offset of the COFF file header; false when the file does not start like a PE.
bool FindCoffHeader(std::span<const uint8_t> file, uint64_t& coff) {
    if (file.size() < kDosHeaderBytes || file[0] != 'M' || file[1] != 'Z') return false;
    const uint64_t signature = ReadLe32(file.data() + kPeOffsetField);
    if (signature > file.size() || sizeof kPeSignature > file.size() - signature) return false;
    if (std::memcmp(file.data() + signature, kPeSignature, sizeof kPeSignature) != 0) return false;
    coff = signature + sizeof kPeSignature;
    return true;
}

DataDirectory ReadDirectory(const uint8_t* optional, uint32_t index) {
    const uint8_t* p = optional + kOptionalFixedBytes + kDataDirectoryBytes * index;
    return {ReadLe32(p), ReadLe32(p + 4)};
}

void ReadOptionalFields(const uint8_t* p, Layout& layout) {
    layout.sizeOfInitializedData = ReadLe32(p + optional_field::kSizeOfInitializedData);
    layout.sectionAlignment = ReadLe32(p + optional_field::kSectionAlignment);
    layout.fileAlignment = ReadLe32(p + optional_field::kFileAlignment);
    layout.sizeOfHeaders = ReadLe32(p + optional_field::kSizeOfHeaders);
    layout.directoryCount = ReadLe32(p + optional_field::kDirectoryCount);
}

// The optional header of a PE32+ program; its data directories lie inside it.
PeStatus ParseOptionalHeader(std::span<const uint8_t> file, Layout& layout, std::string& reason) {
    const uint64_t optionalBytes = ReadLe16(file.data() + layout.coff + coff_field::kOptionalBytes);
    if (optionalBytes > file.size() - layout.optional)
        return Damaged(reason, "its headers end early");
    if (optionalBytes < 2) return Damaged(reason, "it has no optional header");
    const uint8_t* p = file.data() + layout.optional;
    const uint32_t magic = ReadLe16(p + optional_field::kMagic);
    if (magic == kMagicPe32) {
        reason = "a 32-bit (PE32) Windows program: only 64-bit (PE32+) programs are supported";
        return PeStatus::kUnsupported;
    }
    if (magic != kMagicPe32Plus) return Damaged(reason, "its optional header is of no known kind");
    if (optionalBytes < kOptionalFixedBytes) return Damaged(reason, "its optional header is cut");
    ReadOptionalFields(p, layout);
    if (layout.directoryCount > (optionalBytes - kOptionalFixedBytes) / kDataDirectoryBytes) {
        return Damaged(reason, "its data directories run past its optional header");
    }
    if (layout.directoryCount > kResourceDirectory) {
        layout.resources = ReadDirectory(p, kResourceDirectory);
    }
    if (layout.directoryCount > kSecurityDirectory) {
        layout.security = ReadDirectory(p, kSecurityDirectory);
    }
    layout.sectionTable = layout.optional + optionalBytes;
    return PeStatus::kValid;
}

Section ReadSection(const uint8_t* p) {
    Section section;
    const auto* name = reinterpret_cast<const char*>(p);
    section.name.assign(name, std::find(name, name + 8, '\0'));
    section.virtualSize = ReadLe32(p + section_field::kVirtualSize);
    section.virtualAddress = ReadLe32(p + section_field::kVirtualAddress);
    section.rawSize = ReadLe32(p + section_field::kRawSize);
    section.rawOffset = ReadLe32(p + section_field::kRawOffset);
    return section;
}

PeStatus ParseSections(std::span<const uint8_t> file, Layout& layout, std::string& reason) {
    const uint64_t count = ReadLe16(file.data() + layout.coff + coff_field::kSectionCount);
    if (layout.sectionTable > file.size() ||
        count > (file.size() - layout.sectionTable) / kSectionHeaderBytes) {
        return Damaged(reason, "its section table runs past the end of the file");
    }
    for (uint64_t i = 0; i < count; ++i) {
        const Section section =
            ReadSection(file.data() + layout.sectionTable + i * kSectionHeaderBytes);
        if (section.rawSize != 0 && (section.rawOffset > file.size() ||
                                     section.rawSize > file.size() - section.rawOffset)) {
            return Damaged(reason, "a section's data runs past the end of the file");
        }
        layout.sections.push_back(section);
    }
    return PeStatus::kValid;
}

PeStatus ParseHeaders(std::span<const uint8_t> file, Layout& layout, std::string& reason) {
    if (!FindCoffHeader(file, layout.coff)) {
        reason = "not a Windows program (no MZ header leading to a PE signature)";
        return PeStatus::kNotPe;
    }
    if (kCoffHeaderBytes > file.size() - layout.coff)
        return Damaged(reason, "its headers end early");
    const uint8_t* coff = file.data() + layout.coff;
    layout.fileSize = file.size();
    layout.machine = ReadLe16(coff + coff_field::kMachine);
    layout.characteristics = ReadLe16(coff + coff_field::kCharacteristics);
    layout.symbolTable = ReadLe32(coff + coff_field::kSymbolTable);
    layout.symbolCount = ReadLe32(coff + coff_field::kSymbolCount);
    layout.optional = layout.coff + kCoffHeaderBytes;
    const PeStatus optional = ParseOptionalHeader(file, layout, reason);
    if (optional != PeStatus::kValid) return optional;
    if (!IsPowerOfTwo(layout.sectionAlignment) || !IsPowerOfTwo(layout.fileAlignment) ||
        layout.sectionAlignment > kMaxAlignment || layout.fileAlignment > kMaxAlignment) {
        return Damaged(reason, "its section or file alignment is no power of two");
    }
    if (layout.sizeOfHeaders > file.size()) return Damaged(reason, "its headers end early");
    return ParseSections(file, layout, reason);
}

// The bytes of a section the loader maps: its data in the file, but no more than it claims.
uint32_t LoadedBytes(const Section& section) {
    return section.virtualSize == 0 ? section.rawSize
                                    : std::min(section.virtualSize, section.rawSize);
}

// The file offset of [rva, rva + size) when one section's bytes in the file hold all of it.
// An empty range is held too: its offset must still lie in the file, since a section without
// data may claim any offset.
bool MapRva(const Layout& layout, uint32_t rva, uint32_t size, uint64_t& offset) {
    for (const auto& section : layout.sections) {
        if (rva < section.virtualAddress) continue;
        const uint64_t into = rva - section.virtualAddress;
        const uint64_t loaded = LoadedBytes(section);
        if (into > loaded || (into == loaded && size > 0)) continue;
        if (size > loaded - into) return false;
        const uint64_t at = section.rawOffset + into;
        if (at > layout.fileSize || size > layout.fileSize - at) return false;
        offset = at;
        return true;
    }
    return false;
}

// How a tree is read: as it stands, for listing; or for a rewrite, which also refuses a
// directory listing one key twice. Windows finds one entry per key, so the other is hidden;
// the rewrite sorts and merges entries and could show the hidden one in its place.
enum class TreeUse { kList, kRewrite };

bool HasRepeatedKey(std::vector<PeKey> keys);

// Reads the three levels below the root. Every offset is checked against the tree's bytes;
// a directory may be reached once only (so a loop ends the walk), and the entries of all
// directories together must fit the tree, which bounds the work on a hostile file.
class TreeReader {
  public:
    TreeReader(std::span<const uint8_t> tree, const Layout& layout, TreeUse use)
        : tree_(tree), layout_(layout), use_(use) {}

    bool Read(std::vector<PeResource>& out) {
        out_ = &out;
        PeResource path;
        return ReadDirectoryAt(0, 0, path);
    }
    const char* why() const { return why_; }

  private:
    bool Fail(const char* why) {
        why_ = why;
        return false;
    }

    bool Fits(uint64_t offset, uint64_t bytes) const {
        return offset <= tree_.size() && bytes <= tree_.size() - offset;
    }

    bool ReadDirectoryAt(uint32_t offset, int level, PeResource& path) {
        if (!directories_.insert(offset).second) return Fail("a directory is reached twice");
        if (!Fits(offset, tree_field::kDirectoryBytes)) {
            return Fail("a directory lies outside the tree");
        }
        const uint8_t* p = tree_.data() + offset;
        const uint64_t named = ReadLe16(p + tree_field::kNamedCount);
        const uint64_t count = named + ReadLe16(p + tree_field::kIdCount);
        entries_ += count;
        const uint64_t first = offset + tree_field::kDirectoryBytes;
        if (!Fits(first, count * tree_field::kEntryBytes) ||
            entries_ > tree_.size() / tree_field::kEntryBytes) {
            return Fail("a directory has more entries than the tree has room for");
        }
        if (use_ == TreeUse::kRewrite && !KeysDiffer(first, count)) return false;
        for (uint64_t i = 0; i < count; ++i) {
            if (!ReadEntry(first + i * tree_field::kEntryBytes, i < named, level, path)) {
                return false;
            }
        }
        return true;
    }

    // Comparing names costs their length, and many entries may name one long string: the
    // names, counted once for every entry that names them, must fit the tree as a tree whose
    // every entry has a name of its own does. That holds every comparison of the check and of
    // the rewrite's sort to a small multiple of the tree's size.
    bool KeysDiffer(uint64_t first, uint64_t count) {
        std::vector<PeKey> keys(count);
        for (uint64_t i = 0; i < count; ++i) {
            if (!ReadKey(ReadLe32(tree_.data() + first + i * tree_field::kEntryBytes), keys[i])) {
                return false;
            }
            if (keys[i].named) nameBytes_ += 2 + keys[i].text.size();
        }
        if (nameBytes_ > tree_.size()) {
            return Fail(
                "entries share names: counted for each entry, their names take more bytes than "
                "the tree holds");
        }
        if (!HasRepeatedKey(std::move(keys))) return true;
        return Fail(
            "a directory lists one type, name or language twice, and Windows finds only one of "
            "them");
    }

    bool ReadEntry(uint64_t at, bool named, int level, PeResource& path) {
        ++PeTreeWorkOnThisThread().entriesVisited;
        const uint32_t key = ReadLe32(tree_.data() + at);
        const uint32_t child = ReadLe32(tree_.data() + at + 4);
        if (((key & kHighBit) != 0) != named) {
            return Fail("a directory counts a named entry as an id, or the reverse");
        }
        PeKey& slot = level == 0 ? path.type : level == 1 ? path.name : path.language;
        if (!ReadKey(key, slot)) return false;
        const bool leadsToDirectory = (child & kHighBit) != 0;
        if (leadsToDirectory != (level < 2)) {
            return Fail(level < 2 ? "data stands where a directory belongs"
                                  : "a fourth level of directories");
        }
        const uint32_t offset = child & ~kHighBit;
        return level < 2 ? ReadDirectoryAt(offset, level + 1, path) : ReadData(offset, path);
    }

    bool ReadKey(uint32_t field, PeKey& key) {
        key = {};
        if ((field & kHighBit) == 0) {
            key.id = field;
            return true;
        }
        key.named = true;
        const uint32_t offset = field & ~kHighBit;
        if (!Fits(offset, 2)) return Fail("a name lies outside the tree");
        const uint64_t length = ReadLe16(tree_.data() + offset);
        if (!Fits(offset + 2, length * 2)) return Fail("a name runs past the end of the tree");
        key.text = tree_.subspan(offset + 2, length * 2);
        return true;
    }

    bool ReadData(uint32_t offset, PeResource& path) {
        if (!Fits(offset, tree_field::kDataEntryBytes)) {
            return Fail("a data entry lies outside the tree");
        }
        const uint8_t* p = tree_.data() + offset;
        path.size = ReadLe32(p + 4);
        path.codePage = ReadLe32(p + 8);
        if (!MapRva(layout_, ReadLe32(p), path.size, path.offset)) {
            return Fail("a resource's bytes lie outside the program's sections");
        }
        out_->push_back(path);
        return true;
    }

    std::span<const uint8_t> tree_;
    const Layout& layout_;
    TreeUse use_;
    std::set<uint32_t> directories_;
    uint64_t entries_ = 0;
    uint64_t nameBytes_ = 0;  // of the keys checked, counted for each entry
    std::vector<PeResource>* out_ = nullptr;
    const char* why_ = "";
};

PeStatus ReadTree(std::span<const uint8_t> file, const Layout& layout, TreeUse use,
                  std::vector<PeResource>& resources, std::string& reason) {
    resources.clear();
    if (layout.resources.rva == 0) return PeStatus::kValid;  // a program without resources
    uint64_t offset = 0;
    if (!MapRva(layout, layout.resources.rva, layout.resources.size, offset)) {
        return TreeDamaged(reason, "the tree lies outside the program's sections");
    }
    TreeReader reader(file.subspan(offset, layout.resources.size), layout, use);
    std::vector<PeResource> found;
    if (!reader.Read(found)) return TreeDamaged(reason, reader.why());
    resources = std::move(found);
    return PeStatus::kValid;
}

// A name's units, little-endian in its bytes.
size_t UnitCount(std::span<const uint8_t> name) {
    return name.size() / 2;
}

char16_t UnitAt(std::span<const uint8_t> name, size_t i) {
    return static_cast<char16_t>(ReadLe16(name.data() + 2 * i));
}

char16_t UnitAt(std::u16string_view name, size_t i) {
    return name[i];
}

size_t UnitCount(std::u16string_view name) {
    return name.size();
}

// Windows compares resource names without regard to case, as upper case.
template <typename A, typename B>
int CompareNames(const A& a, const B& b) {
    const size_t aUnits = UnitCount(a), bUnits = UnitCount(b);
    const size_t common = std::min(aUnits, bUnits);
    uint64_t& compared = PeTreeWorkOnThisThread().nameUnitsCompared;
    for (size_t i = 0; i < common; ++i) {
        ++compared;
        const char16_t x = AsciiUpper(UnitAt(a, i)), y = AsciiUpper(UnitAt(b, i));
        if (x != y) return x < y ? -1 : 1;
    }
    return aUnits == bUnits ? 0 : aUnits < bUnits ? -1 : 1;
}

bool SameKey(const PeKey& a, const PeKey& b) {
    if (a.named != b.named) return false;
    return a.named ? CompareNames(a.text, b.text) == 0 : a.id == b.id;
}

bool IsNamed(const PeKey& key, std::u16string_view name) {
    return key.named && CompareNames(key.text, name) == 0;
}

bool IsId(const PeKey& key, uint32_t id) {
    return !key.named && key.id == id;
}

// The order of entries in a directory: named ones first, by name, then ids ascending.
bool KeyBefore(const PeKey& a, const PeKey& b) {
    if (a.named != b.named) return a.named;
    return a.named ? CompareNames(a.text, b.text) < 0 : a.id < b.id;
}

// Whether two keys are the same as Windows compares them (names without regard to case).
// A merge sort: each comparison costs at most the length of the key it places, and each key is
// placed once for each of the log n merges.
bool HasRepeatedKey(std::vector<PeKey> keys) {
    std::stable_sort(keys.begin(), keys.end(), KeyBefore);
    return std::adjacent_find(keys.begin(), keys.end(), SameKey) != keys.end();
}

PeKey IdKey(uint32_t id) {
    return {false, id, {}};
}

// The little-endian units of a name, for a key that views them.
std::vector<uint8_t> LittleEndianUnits(std::u16string_view name) {
    std::vector<uint8_t> bytes(2 * name.size());
    for (size_t i = 0; i < name.size(); ++i) WriteLe16(bytes.data() + 2 * i, name[i]);
    return bytes;
}

// The order of keys as numbers: named keys first, ranked by name (names equal but for case
// share a rank), then ids. The rewrite sorts and groups its resources by these, so that no
// name is compared more often than the one sort that ranks the distinct names needs; a type
// with a long name and many resources would otherwise have its name compared with another
// type's for each of them.
class KeyRanks {
  public:
    void Add(const PeKey& key) {
        if (key.named) texts_.push_back(key.text);
    }

    // After the last Add.
    void Rank() {
        std::sort(texts_.begin(), texts_.end(), SpanBefore);
        texts_.erase(std::unique(texts_.begin(), texts_.end(), SameSpan), texts_.end());
        std::vector<size_t> order(texts_.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return CompareNames(texts_[a], texts_[b]) < 0;
        });
        ranks_.assign(texts_.size(), 0);
        for (size_t k = 1; k < order.size(); ++k) {
            const bool same = CompareNames(texts_[order[k - 1]], texts_[order[k]]) == 0;
            ranks_[order[k]] = ranks_[order[k - 1]] + (same ? 0 : 1);
        }
    }

    uint64_t Of(const PeKey& key) const {
        if (!key.named) return uint64_t{1} << 32 | key.id;
        const auto at = std::lower_bound(texts_.begin(), texts_.end(), key.text, SpanBefore);
        return ranks_[static_cast<size_t>(at - texts_.begin())];
    }

  private:
    using Text = std::span<const uint8_t>;
    static bool SpanBefore(Text a, Text b) {
        if (a.data() != b.data()) return std::less<const uint8_t*>()(a.data(), b.data());
        return a.size() < b.size();
    }
    static bool SameSpan(Text a, Text b) { return a.data() == b.data() && a.size() == b.size(); }

    std::vector<Text> texts_;  // each distinct view once, in SpanBefore's order
    std::vector<uint64_t> ranks_;
};

// A resource of the tree to write, its bytes still in the input.
struct Item {
    PeKey type, name, language;
    std::span<const uint8_t> data;
    uint32_t codePage = 0;
    uint64_t typeRank = 0, nameRank = 0, languageRank = 0;
};

bool ItemBefore(const Item& a, const Item& b) {
    return std::tie(a.typeRank, a.nameRank, a.languageRank) <
           std::tie(b.typeRank, b.nameRank, b.languageRank);
}

void RankItems(std::vector<Item>& items) {
    KeyRanks ranks;
    for (const auto& item : items) {
        ranks.Add(item.type);
        ranks.Add(item.name);
        ranks.Add(item.language);
    }
    ranks.Rank();
    for (auto& item : items) {
        item.typeRank = ranks.Of(item.type);
        item.nameRank = ranks.Of(item.name);
        item.languageRank = ranks.Of(item.language);
    }
}

bool HasTypeOf(const PeResource& resource, const PeNewResource& addition) {
    return addition.type.empty() ? IsId(resource.type, addition.typeId)
                                 : IsNamed(resource.type, addition.type);
}

bool Replaces(const PeNewResource& addition, const PeResource& resource) {
    return HasTypeOf(resource, addition) && IsId(resource.name, addition.id) &&
           IsId(resource.language, addition.language);
}

bool IsRemoved(const PeResource& resource, std::span<const PeRemoval> removals) {
    return std::any_of(removals.begin(), removals.end(), [&](const PeRemoval& removal) {
        return IsId(resource.type, removal.type) && SameKey(resource.name, removal.name);
    });
}

// The resources of the new tree in its order: the existing ones not replaced, and additions,
// whose type names are kept as little-endian units in typeNames.
std::vector<Item> MergeItems(std::span<const uint8_t> file, const std::vector<PeResource>& existing,
                             std::span<const PeNewResource> additions,
                             std::vector<std::vector<uint8_t>>& typeNames) {
    std::vector<Item> items;
    for (const auto& resource : existing) {
        auto replaced = [&](const PeNewResource& addition) { return Replaces(addition, resource); };
        if (std::any_of(additions.begin(), additions.end(), replaced)) continue;
        items.push_back({resource.type, resource.name, resource.language,
                         file.subspan(resource.offset, resource.size), resource.codePage});
    }
    typeNames.reserve(additions.size());
    for (const auto& addition : additions) {
        const PeKey type =
            addition.type.empty()
                ? IdKey(addition.typeId)
                : PeKey{true, 0, typeNames.emplace_back(LittleEndianUnits(addition.type))};
        items.push_back({type, IdKey(addition.id), IdKey(addition.language), addition.data, 0});
    }
    RankItems(items);
    std::stable_sort(items.begin(), items.end(), ItemBefore);
    return items;
}

// The new tree, grouped by level, with the offset each part gets in the section.
struct LanguageNode {
    const Item* item = nullptr;
    uint64_t entry = 0;  // its data entry
    uint64_t data = 0;   // its bytes
    uint64_t keyText = 0;
};

struct NameNode {
    const PeKey* key = nullptr;
    uint64_t rank = 0;
    uint64_t directory = 0;
    uint64_t keyText = 0;
    std::vector<LanguageNode> languages;
};

struct TypeNode {
    const PeKey* key = nullptr;
    uint64_t rank = 0;
    uint64_t directory = 0;
    uint64_t keyText = 0;
    std::vector<NameNode> names;
};

std::vector<TypeNode> GroupItems(const std::vector<Item>& items) {
    std::vector<TypeNode> types;
    for (const auto& item : items) {
        if (types.empty() || types.back().rank != item.typeRank) {
            types.push_back({&item.type, item.typeRank, 0, 0, {}});
        }
        auto& names = types.back().names;
        if (names.empty() || names.back().rank != item.nameRank) {
            names.push_back({&item.name, item.nameRank, 0, 0, {}});
        }
        names.back().languages.emplace_back().item = &item;
    }
    return types;
}

uint64_t DirectoryBytes(size_t entries) {
    return tree_field::kDirectoryBytes + entries * tree_field::kEntryBytes;
}

uint64_t KeyTextBytes(const PeKey& key) {
    return key.named ? 2 + key.text.size() : 0;
}

// Calls visit(type, name, language) for every resource, in the tree's order.
template <typename Visit>
void ForEachLanguage(std::vector<TypeNode>& types, Visit visit) {
    for (auto& type : types) {
        for (auto& name : type.names) {
            for (auto& language : name.languages) visit(type, name, language);
        }
    }
}

// Directories breadth first from at: each type's, then each name's. Returns where they end.
uint64_t PlaceDirectories(std::vector<TypeNode>& types, uint64_t at) {
    for (auto& type : types) {
        type.directory = std::exchange(at, at + DirectoryBytes(type.names.size()));
    }
    for (auto& type : types) {
        for (auto& name : type.names) {
            name.directory = std::exchange(at, at + DirectoryBytes(name.languages.size()));
        }
    }
    return at;
}

// The names of named types, names and languages, each where its entry is first written.
uint64_t PlaceKeyTexts(std::vector<TypeNode>& types, uint64_t at) {
    for (auto& type : types) {
        type.keyText = std::exchange(at, at + KeyTextBytes(*type.key));
        for (auto& name : type.names) {
            name.keyText = std::exchange(at, at + KeyTextBytes(*name.key));
            for (auto& language : name.languages) {
                language.keyText = std::exchange(at, at + KeyTextBytes(language.item->language));
            }
        }
    }
    return at;
}

// Lays the tree out as resource compilers do: the directories, then the data entries, then
// the names, then each resource's bytes 8-byte aligned. Returns its size.
uint64_t PlaceTree(std::vector<TypeNode>& types) {
    uint64_t at = PlaceDirectories(types, DirectoryBytes(types.size()));
    ForEachLanguage(types, [&](TypeNode&, NameNode&, LanguageNode& language) {
        language.entry = std::exchange(at, at + tree_field::kDataEntryBytes);
    });
    at = PlaceKeyTexts(types, at);
    ForEachLanguage(types, [&](TypeNode&, NameNode&, LanguageNode& language) {
        language.data = AlignUp(at, tree_field::kDataAlignment);
        at = language.data + language.item->data.size();
    });
    return at;
}

// Writes the placed tree into section, whose first byte the loader maps at rva.
class TreeWriter {
  public:
    TreeWriter(std::vector<uint8_t>& section, uint32_t rva) : section_(section), rva_(rva) {}

    void Write(const std::vector<TypeNode>& types) {
        WriteDirectory(0, types);
        for (const auto& type : types) {
            WriteKeyText(type.keyText, *type.key);
            WriteDirectory(type.directory, type.names);
            for (const auto& name : type.names) {
                WriteKeyText(name.keyText, *name.key);
                WriteDirectory(name.directory, name.languages);
                for (const auto& language : name.languages) WriteLanguage(language);
            }
        }
    }

  private:
    static const PeKey& KeyOf(const TypeNode& node) { return *node.key; }
    static const PeKey& KeyOf(const NameNode& node) { return *node.key; }
    static const PeKey& KeyOf(const LanguageNode& node) { return node.item->language; }
    static uint32_t ChildOf(const TypeNode& node) { return node.directory | kHighBit; }
    static uint32_t ChildOf(const NameNode& node) { return node.directory | kHighBit; }
    static uint32_t ChildOf(const LanguageNode& node) { return node.entry; }

    template <typename Node>
    void WriteDirectory(uint64_t offset, const std::vector<Node>& children) {
        const auto named = std::count_if(children.begin(), children.end(),
                                         [](const Node& child) { return KeyOf(child).named; });
        uint8_t* p = section_.data() + offset;
        WriteLe16(p + tree_field::kNamedCount, static_cast<uint32_t>(named));
        WriteLe16(p + tree_field::kIdCount, static_cast<uint32_t>(children.size() - named));
        p += tree_field::kDirectoryBytes;
        for (const auto& child : children) {
            const PeKey& key = KeyOf(child);
            WriteLe32(p, key.named ? static_cast<uint32_t>(KeyTextOf(child)) | kHighBit : key.id);
            WriteLe32(p + 4, ChildOf(child));
            p += tree_field::kEntryBytes;
        }
    }

    template <typename Node>
    static uint64_t KeyTextOf(const Node& node) {
        return node.keyText;
    }

    void WriteKeyText(uint64_t offset, const PeKey& key) {
        if (!key.named) return;
        uint8_t* p = section_.data() + offset;
        WriteLe16(p, static_cast<uint32_t>(UnitCount(key.text)));
        std::copy(key.text.begin(), key.text.end(), p + 2);
    }

    void WriteLanguage(const LanguageNode& language) {
        const Item& item = *language.item;
        WriteKeyText(language.keyText, item.language);
        uint8_t* p = section_.data() + language.entry;
        WriteLe32(p, rva_ + static_cast<uint32_t>(language.data));
        WriteLe32(p + 4, static_cast<uint32_t>(item.data.size()));
        WriteLe32(p + 8, item.codePage);
        std::copy(item.data.begin(), item.data.end(), section_.begin() + language.data);
    }

    std::vector<uint8_t>& section_;
    uint32_t rva_;
};

// Whether every directory's named and id entries can be counted in its 16-bit fields.
bool CountsFit(const std::vector<TypeNode>& types) {
    if (types.size() > tree_field::kMaxEntries) return false;
    for (const auto& type : types) {
        if (type.names.size() > tree_field::kMaxEntries) return false;
        for (const auto& name : type.names) {
            if (name.languages.size() > tree_field::kMaxEntries) return false;
        }
    }
    return true;
}

// The section bytes of the complete tree of items, mapped at rva. limit: what the tree may
// take; a hostile program whose entries all name the same bytes would otherwise have them
// written out once for each.
bool BuildTree(const std::vector<Item>& items, uint32_t rva, uint64_t limit,
               std::vector<uint8_t>& section, std::string& reason) {
    std::vector<TypeNode> types = GroupItems(items);
    const uint64_t size = PlaceTree(types);
    // Offsets in the tree keep their high bit for the directory flag, and RVAs are 32-bit.
    if (!CountsFit(types) || size >= kHighBit || size > UINT32_MAX - rva) {
        reason = "the resources do not fit one resource section";
        return false;
    }
    if (size > limit) {
        reason =
            "damaged Windows program: its resources share their bytes or names so much that "
            "rewriting them would take " +
            std::to_string(size) + " bytes";
        return false;
    }
    section.assign(size, 0);
    TreeWriter(section, rva).Write(types);
    return true;
}

// What AddPeResources does to a program, worked out before anything is written.
struct Plan {
    Layout layout;
    size_t kept = 0;              // sections kept: all but an earlier .wqrsrc
    uint32_t droppedRawSize = 0;  // that section's data
    uint64_t keptEnd = 0;         // the headers and the kept sections' data end here
    uint64_t sectionsEnd = 0;     // all sections' data, the dropped one too, end here
    bool carriesSymbols = false;  // a COFF symbol table follows the sections
    uint32_t rva = 0;             // of the new section
    uint64_t rawOffset = 0;       // of the new section
};

uint64_t EndOfData(const Layout& layout, size_t sections) {
    uint64_t end = layout.sizeOfHeaders;
    for (size_t i = 0; i < sections; ++i) {
        const Section& section = layout.sections[i];
        if (section.rawSize != 0) {
            end = std::max<uint64_t>(end, uint64_t{section.rawOffset} + section.rawSize);
        }
    }
    return end;
}

uint64_t FirstSectionData(const Layout& layout) {
    uint64_t first = UINT64_MAX;
    for (const auto& section : layout.sections) {
        if (section.rawSize != 0) first = std::min<uint64_t>(first, section.rawOffset);
    }
    return first;
}

uint64_t EndOfImage(const Layout& layout, size_t sections) {
    uint64_t end = layout.sizeOfHeaders;
    for (size_t i = 0; i < sections; ++i) {
        const Section& section = layout.sections[i];
        const uint32_t size = section.virtualSize != 0 ? section.virtualSize : section.rawSize;
        end = std::max<uint64_t>(end, uint64_t{section.virtualAddress} + size);
    }
    return end;
}

bool IsOurSection(const Section& section) {
    return section.name == kPeResourceSectionName;
}

bool Refuse(std::string& reason, std::string why) {
    reason = std::move(why);
    return false;
}

std::string ToHex(uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value % 16]);
        value /= 16;
    } while (value != 0);
    return text;
}

// An earlier .wqrsrc is dropped and made again; it must be the last section, in the table
// and in the file.
bool FindSectionToReplace(const Layout& layout, Plan& plan, std::string& reason) {
    const auto& sections = layout.sections;
    const auto ours = std::find_if(sections.begin(), sections.end(), IsOurSection);
    plan.kept = sections.size();
    if (ours == sections.end()) return true;
    if (ours + 1 != sections.end()) {
        return Refuse(reason, "damaged Windows program: its .wqrsrc section is not the last one");
    }
    plan.kept = sections.size() - 1;
    plan.droppedRawSize = ours->rawSize;
    if (ours->rawSize != 0 && ours->rawOffset < EndOfData(layout, plan.kept)) {
        return Refuse(reason,
                      "damaged Windows program: its .wqrsrc section's data is not the "
                      "last in the file");
    }
    return true;
}

// The new section header needs 40 free bytes after the kept ones, before the first
// section's data.
bool HasHeaderRoom(std::span<const uint8_t> file, const Plan& plan) {
    const Layout& layout = plan.layout;
    if (plan.kept >= kMaxSections) return false;
    const uint64_t slot = layout.sectionTable + plan.kept * kSectionHeaderBytes;
    const uint64_t limit = std::min<uint64_t>(layout.sizeOfHeaders, FirstSectionData(layout));
    if (slot > limit || kSectionHeaderBytes > limit - slot) return false;
    // A dropped .wqrsrc leaves its slot free; any other slot must be unused.
    if (plan.kept < layout.sections.size()) return true;
    const auto header = file.subspan(slot, kSectionHeaderBytes);
    return std::all_of(header.begin(), header.end(), [](uint8_t byte) { return byte == 0; });
}

// What follows the sections must be nothing, or a COFF symbol table and its string table (an
// unstripped build), which is moved behind the new section. Anything else would be lost or
// land in the wrong place.
bool CheckTrailingData(std::span<const uint8_t> file, Plan& plan, std::string& reason) {
    const Layout& layout = plan.layout;
    const uint64_t rest = file.size() - plan.sectionsEnd;
    if (rest == 0) return true;
    const uint64_t symbolBytes = uint64_t{layout.symbolCount} * kSymbolBytes;
    if (layout.symbolTable == plan.sectionsEnd && symbolBytes <= rest && 4 <= rest - symbolBytes) {
        const uint64_t strings = ReadLe32(file.data() + plan.sectionsEnd + symbolBytes);
        plan.carriesSymbols = strings >= 4 && strings == rest - symbolBytes;
    }
    if (plan.carriesSymbols) return true;
    return Refuse(reason, std::to_string(rest) +
                              " bytes of other data follow the program's last section; the new "
                              "section would misplace them");
}

// The rules a program must keep to be the stub of a self-extracting program; Windows would
// refuse to start, or load as something else, any other.
bool CheckLoadable(const Layout& layout, std::string& reason) {
    if (layout.machine != kMachineAmd64) {
        return Refuse(reason, "not an x86-64 program (its machine type is 0x" +
                                  ToHex(layout.machine) + ", x86-64 is 0x8664)");
    }
    if ((layout.characteristics & kDllImage) != 0) {
        return Refuse(reason, "a DLL, not a program that Windows starts");
    }
    if ((layout.characteristics & kExecutableImage) == 0) {
        return Refuse(reason, "not marked as an executable image (an object file, or unlinked)");
    }
    if (layout.fileAlignment < kMinFileAlignment || layout.fileAlignment > kMaxFileAlignment) {
        return Refuse(reason, "its FileAlignment " + std::to_string(layout.fileAlignment) +
                                  " is not a power of two from 512 to 65536");
    }
    if (layout.sectionAlignment < layout.fileAlignment) {
        return Refuse(reason, "its SectionAlignment " + std::to_string(layout.sectionAlignment) +
                                  " is smaller than its FileAlignment " +
                                  std::to_string(layout.fileAlignment));
    }
    return true;
}

bool CheckRewritable(std::span<const uint8_t> file, const Layout& layout, std::string& reason) {
    if (!CheckLoadable(layout, reason)) return false;
    if (layout.security.rva != 0 || layout.security.size != 0) {
        return Refuse(reason,
                      "the program is signed, and adding a resource breaks its signature: sign "
                      "it after aze sfx, not before");
    }
    if (layout.directoryCount <= kResourceDirectory) {
        return Refuse(reason, "the program has no resource data directory");
    }
    std::vector<PeResource> resources;
    return ReadTree(file, layout, TreeUse::kRewrite, resources, reason) == PeStatus::kValid;
}

// Where the new section goes: after every kept section in the image and in the file.
bool PlaceSection(Plan& plan, std::string& reason) {
    const Layout& layout = plan.layout;
    const uint64_t rva = AlignUp(EndOfImage(layout, plan.kept), layout.sectionAlignment);
    plan.rawOffset = AlignUp(plan.keptEnd, layout.fileAlignment);
    if (rva >= UINT32_MAX || plan.rawOffset >= UINT32_MAX) {
        return Refuse(reason, "the program would grow past 4 GiB");
    }
    plan.rva = static_cast<uint32_t>(rva);
    return true;
}

bool MakePlan(std::span<const uint8_t> file, Plan& plan, std::string& reason) {
    if (ParseHeaders(file, plan.layout, reason) != PeStatus::kValid) return false;
    if (!CheckRewritable(file, plan.layout, reason)) return false;
    if (!FindSectionToReplace(plan.layout, plan, reason)) return false;
    if (!HasHeaderRoom(file, plan)) {
        return Refuse(reason,
                      "no room for another section header before the first section's "
                      "data (SizeOfHeaders is " +
                          std::to_string(plan.layout.sizeOfHeaders) + " bytes)");
    }
    plan.keptEnd = EndOfData(plan.layout, plan.kept);
    plan.sectionsEnd = EndOfData(plan.layout, plan.layout.sections.size());
    return CheckTrailingData(file, plan, reason) && PlaceSection(plan, reason);
}

void WriteSectionHeader(uint8_t* p, const Plan& plan, uint64_t treeBytes, uint64_t rawSize) {
    std::fill(p, p + kSectionHeaderBytes, 0);
    std::copy(kPeResourceSectionName.begin(), kPeResourceSectionName.end(), p);
    WriteLe32(p + section_field::kVirtualSize, static_cast<uint32_t>(treeBytes));
    WriteLe32(p + section_field::kVirtualAddress, plan.rva);
    WriteLe32(p + section_field::kRawSize, static_cast<uint32_t>(rawSize));
    WriteLe32(p + section_field::kRawOffset, static_cast<uint32_t>(plan.rawOffset));
    WriteLe32(p + section_field::kCharacteristics, kResourceSectionCharacteristics);
}

void UpdateImageSizes(uint8_t* optional, const Plan& plan, uint64_t treeBytes, uint64_t rawSize) {
    const Layout& layout = plan.layout;
    const uint64_t image = AlignUp(plan.rva + treeBytes, layout.sectionAlignment);
    WriteLe32(optional + optional_field::kSizeOfImage, static_cast<uint32_t>(image));
    // Initialized data is counted as the linker counts it: the sections' sizes in the file.
    const uint64_t initialized = uint64_t{layout.sizeOfInitializedData} -
                                 std::min(layout.sizeOfInitializedData, plan.droppedRawSize);
    WriteLe32(optional + optional_field::kSizeOfInitializedData,
              static_cast<uint32_t>(std::min<uint64_t>(initialized + rawSize, UINT32_MAX)));
}

// The header fields that follow from the new section; the CheckSum last, over everything.
void UpdateHeaders(std::vector<uint8_t>& out, const Plan& plan, uint64_t treeBytes,
                   uint64_t rawSize, uint64_t symbolTable) {
    const Layout& layout = plan.layout;
    uint8_t* coff = out.data() + layout.coff;
    uint8_t* optional = out.data() + layout.optional;
    WriteSectionHeader(out.data() + layout.sectionTable + plan.kept * kSectionHeaderBytes, plan,
                       treeBytes, rawSize);
    WriteLe16(coff + coff_field::kSectionCount, static_cast<uint32_t>(plan.kept + 1));
    if (plan.carriesSymbols) {
        WriteLe32(coff + coff_field::kSymbolTable, static_cast<uint32_t>(symbolTable));
    }
    UpdateImageSizes(optional, plan, treeBytes, rawSize);
    uint8_t* resources = optional + kOptionalFixedBytes + kDataDirectoryBytes * kResourceDirectory;
    WriteLe32(resources, plan.rva);
    WriteLe32(resources + 4, static_cast<uint32_t>(treeBytes));
    const uint64_t checksum = layout.optional + optional_field::kCheckSum;
    WriteLe32(out.data() + checksum, 0);
    WriteLe32(out.data() + checksum, PeChecksum(out, checksum));
}

bool Assemble(std::span<const uint8_t> file, const Plan& plan, const std::vector<uint8_t>& tree,
              std::vector<uint8_t>& out, std::string& reason) {
    const uint64_t rawSize = AlignUp(tree.size(), plan.layout.fileAlignment);
    const uint64_t symbols = file.size() - plan.sectionsEnd;
    if (plan.rva + AlignUp(tree.size(), plan.layout.sectionAlignment) > UINT32_MAX ||
        plan.rawOffset + rawSize + symbols > UINT32_MAX) {
        return Refuse(reason, "the program would grow past 4 GiB");
    }
    out.assign(file.begin(), file.begin() + plan.keptEnd);
    out.resize(plan.rawOffset, 0);
    out.insert(out.end(), tree.begin(), tree.end());
    out.resize(plan.rawOffset + rawSize, 0);
    const uint64_t symbolTable = out.size();
    out.insert(out.end(), file.begin() + plan.sectionsEnd, file.end());
    UpdateHeaders(out, plan, tree.size(), rawSize, symbolTable);
    return true;
}

}  // namespace

bool LooksLikePe(std::span<const uint8_t> head) {
    if (head.size() < kDosHeaderBytes || head[0] != 'M' || head[1] != 'Z') return false;
    const uint64_t signature = ReadLe32(head.data() + kPeOffsetField);
    // The signature lies beyond the bytes given: only the whole file can tell.
    if (signature > head.size() || sizeof kPeSignature > head.size() - signature) return true;
    return std::memcmp(head.data() + signature, kPeSignature, sizeof kPeSignature) == 0;
}

PeStatus ReadPeResources(std::span<const uint8_t> file, std::vector<PeResource>& resources,
                         std::string& reason) {
    resources.clear();
    Layout layout;
    const PeStatus status = ParseHeaders(file, layout, reason);
    return status != PeStatus::kValid ? status
                                      : ReadTree(file, layout, TreeUse::kList, resources, reason);
}

std::u16string PeKeyText(const PeKey& key) {
    std::u16string text;
    for (size_t i = 0; i < UnitCount(key.text); ++i) text.push_back(UnitAt(key.text, i));
    return text;
}

const PeResource* FindPeResource(const std::vector<PeResource>& resources, std::u16string_view type,
                                 uint32_t id) {
    const PeResource* english = nullptr;
    const PeResource* other = nullptr;
    for (const auto& resource : resources) {
        if (!IsNamed(resource.type, type) || !IsId(resource.name, id)) continue;
        if (IsId(resource.language, 0)) return &resource;
        if (english == nullptr && IsId(resource.language, 1033)) english = &resource;
        if (other == nullptr) other = &resource;
    }
    return english != nullptr ? english : other;
}

bool CanAddPeResources(std::span<const uint8_t> file, std::string& reason) {
    Plan plan;
    return MakePlan(file, plan, reason);
}

bool AddPeResources(std::span<const uint8_t> file, std::span<const PeNewResource> additions,
                    std::vector<uint8_t>& out, std::string& reason) {
    return EditPeResources(file, additions, {}, out, reason);
}

bool EditPeResources(std::span<const uint8_t> file, std::span<const PeNewResource> additions,
                     std::span<const PeRemoval> removals, std::vector<uint8_t>& out,
                     std::string& reason) {
    Plan plan;
    if (!MakePlan(file, plan, reason)) return false;
    std::vector<PeResource> existing;
    if (ReadTree(file, plan.layout, TreeUse::kRewrite, existing, reason) != PeStatus::kValid) {
        return false;
    }
    std::erase_if(existing,
                  [&](const PeResource& resource) { return IsRemoved(resource, removals); });
    uint64_t added = 0;
    for (const auto& addition : additions) added += addition.data.size();
    const uint64_t limit = 2 * uint64_t{file.size()} + added + kTreeSlack;
    std::vector<std::vector<uint8_t>> typeNames;
    std::vector<uint8_t> tree;
    return BuildTree(MergeItems(file, existing, additions, typeNames), plan.rva, limit, tree,
                     reason) &&
           Assemble(file, plan, tree, out, reason);
}

uint32_t PeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset) {
    auto byteAt = [&](uint64_t i) -> uint32_t {
        const bool inField = i >= checksumOffset && i - checksumOffset < 4;
        return i >= file.size() || inField ? 0 : file[i];
    };
    uint32_t sum = 0;
    for (uint64_t i = 0; i < file.size(); i += 2) {
        sum += byteAt(i) | byteAt(i + 1) << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(file.size());
}

}  // namespace winqor
