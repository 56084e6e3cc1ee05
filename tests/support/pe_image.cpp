#include "support/pe_image.h"

#include <algorithm>
#include <string>
#include <utility>

namespace winqor::test {
namespace {

constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kCoffOffset = kPeOffset + 4;
constexpr uint32_t kOptionalOffset = kCoffOffset + 20;
constexpr uint32_t kOptionalBytes = 112 + 16 * 8;
constexpr uint32_t kSectionTable = kOptionalOffset + kOptionalBytes;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kCodeRva = 0x1000;
constexpr uint32_t kCodeRaw = 0x200;
constexpr uint32_t kTreeRva = 0x2000;
constexpr uint32_t kTreeRaw = 0x400;
constexpr uint32_t kHighBit = 0x80000000;

void Put(std::vector<uint8_t>& bytes, uint64_t offset, uint64_t value, int size) {
    if (bytes.size() < offset + size) bytes.resize(offset + size, 0);
    for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t AlignUp(uint64_t value, uint32_t alignment) {
    return static_cast<uint32_t>((value + alignment - 1) / alignment * alignment);
}

bool IsNamed(const PeTestKey& key) {
    return !key.name.empty();
}

bool SameKey(const PeTestKey& a, const PeTestKey& b) {
    return a.name == b.name && (IsNamed(a) || a.id == b.id);
}

// Lays the tree out depth first; names and bytes follow all directories and data entries,
// so their places are patched in at the end.
class TreeBuilder {
  public:
    std::vector<uint8_t> Build(const std::vector<PeTestResource>& resources) {
        std::vector<const PeTestResource*> all;
        for (const auto& resource : resources) all.push_back(&resource);
        Directory(all, 0);
        for (const auto& [field, text] : names_) {
            Put(tree_, field, tree_.size() | kHighBit, 4);
            Put(tree_, tree_.size(), text.size(), 2);
            for (char16_t c : text) Put(tree_, tree_.size(), c, 2);
        }
        for (const auto& [entry, resource] : data_) {
            const uint64_t at = AlignUp(tree_.size(), 4);
            Put(tree_, entry, kTreeRva + at, 4);
            tree_.resize(at);
            tree_.insert(tree_.end(), resource->data.begin(), resource->data.end());
        }
        return tree_;
    }

  private:
    static PeTestKey KeyAt(const PeTestResource& resource, int level) {
        if (level == 0) return resource.type;
        if (level == 1) return resource.name;
        return {{}, resource.language};
    }

    // The distinct keys of a level, named ones first, each in the order first met.
    static std::vector<PeTestKey> KeysOf(const std::vector<const PeTestResource*>& group,
                                         int level) {
        std::vector<PeTestKey> keys;
        for (const auto* resource : group) {
            const PeTestKey key = KeyAt(*resource, level);
            auto same = [&](const PeTestKey& other) { return SameKey(key, other); };
            if (std::none_of(keys.begin(), keys.end(), same)) keys.push_back(key);
        }
        std::stable_partition(keys.begin(), keys.end(), IsNamed);
        return keys;
    }

    void Directory(const std::vector<const PeTestResource*>& group, int level) {
        const std::vector<PeTestKey> keys = KeysOf(group, level);
        const uint64_t at = tree_.size();
        const auto named = std::count_if(keys.begin(), keys.end(), IsNamed);
        Put(tree_, at + 12, named, 2);
        Put(tree_, at + 14, keys.size() - named, 2);
        tree_.resize(at + 16 + 8 * keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            const uint64_t entry = at + 16 + 8 * i;
            if (IsNamed(keys[i]))
                names_.push_back({entry, keys[i].name});
            else
                Put(tree_, entry, keys[i].id, 4);
            std::vector<const PeTestResource*> below;
            for (const auto* resource : group) {
                if (SameKey(KeyAt(*resource, level), keys[i])) below.push_back(resource);
            }
            Child(entry + 4, below, level);
        }
    }

    void Child(uint64_t field, const std::vector<const PeTestResource*>& below, int level) {
        if (level < 2) {
            Put(tree_, field, tree_.size() | kHighBit, 4);
            Directory(below, level + 1);
            return;
        }
        const uint64_t entry = tree_.size();
        tree_.resize(entry + 16);
        Put(tree_, field, entry, 4);
        Put(tree_, entry + 4, below.front()->data.size(), 4);
        data_.push_back({entry, below.front()});
    }

    std::vector<uint8_t> tree_;
    std::vector<std::pair<uint64_t, std::u16string>> names_;
    std::vector<std::pair<uint64_t, const PeTestResource*>> data_;
};

void PutHeaders(std::vector<uint8_t>& bytes, const PeImageOptions& options, uint32_t treeBytes) {
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put(bytes, 0x3C, kPeOffset, 4);
    bytes[kPeOffset] = 'P';
    bytes[kPeOffset + 1] = 'E';
    Put(bytes, kCoffOffset, 0x8664, 2);
    Put(bytes, kCoffOffset + 2, 2, 2);
    Put(bytes, kCoffOffset + 16, kOptionalBytes, 2);
    Put(bytes, kCoffOffset + 18, 0x22, 2);
    const uint32_t o = kOptionalOffset;
    Put(bytes, o, options.magic, 2);
    Put(bytes, o + 8, AlignUp(treeBytes, kFileAlignment), 4);
    Put(bytes, o + 32, kSectionAlignment, 4);
    Put(bytes, o + 36, kFileAlignment, 4);
    Put(bytes, o + 56, AlignUp(kTreeRva + treeBytes, kSectionAlignment), 4);
    Put(bytes, o + 60, options.sizeOfHeaders, 4);
    Put(bytes, o + 68, 2, 2);  // a graphical program
    Put(bytes, o + 108, 16, 4);
    Put(bytes, o + 112 + 2 * 8, kTreeRva, 4);
    Put(bytes, o + 112 + 2 * 8 + 4, treeBytes, 4);
    if (options.isSigned) Put(bytes, o + 112 + 4 * 8, 0x10000, 4);
    if (options.isSigned) Put(bytes, o + 112 + 4 * 8 + 4, 0x100, 4);
}

void PutSection(std::vector<uint8_t>& bytes, int index, const char* name, uint32_t size,
                uint32_t rva, uint32_t raw, uint32_t characteristics) {
    const uint32_t at = kSectionTable + 40 * index;
    std::copy(name, name + std::char_traits<char>::length(name), bytes.begin() + at);
    Put(bytes, at + 8, size, 4);
    Put(bytes, at + 12, rva, 4);
    Put(bytes, at + 16, AlignUp(size, kFileAlignment), 4);
    Put(bytes, at + 20, raw, 4);
    Put(bytes, at + 36, characteristics, 4);
}

// A COFF symbol table of count symbols and its string table, as an unstripped build has.
void PutSymbols(std::vector<uint8_t>& bytes, uint32_t count) {
    if (count == 0) return;
    Put(bytes, kCoffOffset + 8, bytes.size(), 4);
    Put(bytes, kCoffOffset + 12, count, 4);
    for (uint32_t i = 0; i < count * 18; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
    const std::string strings = "/4 .debug_info";
    Put(bytes, bytes.size(), 4 + strings.size() + 1, 4);
    bytes.insert(bytes.end(), strings.begin(), strings.end());
    bytes.push_back(0);
}

}  // namespace

PeImage BuildPeImage(const std::vector<PeTestResource>& resources, const PeImageOptions& options) {
    const std::vector<uint8_t> tree = TreeBuilder().Build(resources);
    PeImage image;
    image.bytes.assign(kTreeRaw + AlignUp(tree.size(), kFileAlignment), 0);
    PutHeaders(image.bytes, options, static_cast<uint32_t>(tree.size()));
    PutSection(image.bytes, 0, ".text", 0x10, kCodeRva, kCodeRaw, 0x60000020);
    PutSection(image.bytes, 1, ".rsrc", static_cast<uint32_t>(tree.size()), kTreeRva, kTreeRaw,
               0x40000040);
    image.bytes[kCodeRaw] = 0xC3;  // ret
    std::copy(tree.begin(), tree.end(), image.bytes.begin() + kTreeRaw);
    PutSymbols(image.bytes, options.symbols);
    image.bytes.insert(image.bytes.end(), options.trailing.begin(), options.trailing.end());
    image.treeOffset = kTreeRaw;
    image.sectionCountOffset = kCoffOffset + 2;
    image.checksumOffset = kOptionalOffset + 64;
    image.symbolTableOffset = kCoffOffset + 8;
    return image;
}

uint32_t ReadLe16At(const std::vector<uint8_t>& bytes, uint64_t offset) {
    return bytes.at(offset) | bytes.at(offset + 1) << 8;
}

uint32_t ReadLe32At(const std::vector<uint8_t>& bytes, uint64_t offset) {
    return ReadLe16At(bytes, offset) | ReadLe16At(bytes, offset + 2) << 16;
}

void WriteLe32At(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value) {
    Put(bytes, offset, value, 4);
}

}  // namespace winqor::test
