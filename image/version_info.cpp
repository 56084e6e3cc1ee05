#include "image/version_info.h"

#include <algorithm>
#include <iterator>

#include "base/little_endian.h"
#include "base/text.h"

namespace winqor {
namespace {

constexpr uint32_t kTextType = 1;
constexpr uint32_t kBinaryType = 0;
constexpr uint64_t kBlockHeaderBytes = 6;
constexpr uint32_t kMaxVersionParts = 4;
constexpr uint32_t kMaxVersionPart = 65535;

// VS_FIXEDFILEINFO: its signature and structure version, then the versions, each as two
// 32-bit halves, the most significant first; flags, system and kind follow.
constexpr uint64_t kFixedInfoBytes = 52;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kFixedStructureVersion = 0x00010000;
constexpr uint32_t kFileFlagsMask = 0x3F;
constexpr uint32_t kOsNtWindows32 = 0x00040004;
constexpr uint32_t kFileTypeApplication = 1;

constexpr uint32_t kCodePageUtf16 = 1200;
// The string tables written, as language numbers: neutral, English (United States).
constexpr uint32_t kTableLanguages[] = {0x0000, 0x0409};

bool Refuse(std::string& reason, std::string why) {
    reason = std::move(why);
    return false;
}

uint64_t AlignTo4(uint64_t value) {
    return (value + 3) / 4 * 4;
}

void PadTo4(std::vector<uint8_t>& bytes) {
    bytes.resize(AlignTo4(bytes.size()), 0);
}

bool IsKnownKey(std::string_view key) {
    return std::find(std::begin(kVersionInfoKeys), std::end(kVersionInfoKeys), key) !=
           std::end(kVersionInfoKeys);
}

size_t KeyRank(std::u16string_view key) {
    for (size_t i = 0; i < std::size(kVersionInfoKeys); ++i) {
        if (WidenAscii(kVersionInfoKeys[i]) == key) return i;
    }
    return std::size(kVersionInfoKeys);
}

std::string KnownKeys() {
    std::string keys;
    for (const auto key : kVersionInfoKeys) keys += (keys.empty() ? "" : ", ") + std::string(key);
    return keys;
}

// Up to four dotted numbers from 0 to 65535, as the four 16-bit parts of a fixed version.
bool ParseDottedVersion(std::string_view text, uint64_t& version) {
    uint64_t parts[kMaxVersionParts] = {};
    uint32_t count = 0;
    size_t at = 0;
    while (true) {
        const size_t dot = std::min(text.find('.', at), text.size());
        const std::string_view digits = text.substr(at, dot - at);
        if (count == kMaxVersionParts || digits.empty() || digits.size() > 5) return false;
        uint64_t value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<uint64_t>(c - '0');
        }
        if (value > kMaxVersionPart) return false;
        parts[count++] = value;
        if (dot == text.size()) break;
        at = dot + 1;
    }
    version = parts[0] << 48 | parts[1] << 32 | parts[2] << 16 | parts[3];
    return true;
}

const std::u16string* FindString(const VersionInfo& info, std::u16string_view key) {
    for (const auto& [name, value] : info.strings) {
        if (name == key) return &value;
    }
    return nullptr;
}

// The fixed versions follow from the strings: FileVersion gives both, a ProductVersion of
// dotted numbers the product's own.
void SetFixedVersions(VersionInfo& info) {
    std::string text;
    const std::u16string* file = FindString(info, u"FileVersion");
    const std::u16string* product = FindString(info, u"ProductVersion");
    info.fileVersion = 0;
    if (file != nullptr && Utf16ToUtf8(*file, text)) ParseDottedVersion(text, info.fileVersion);
    info.productVersion = info.fileVersion;
    if (product != nullptr && Utf16ToUtf8(*product, text)) {
        ParseDottedVersion(text, info.productVersion);
    }
}

bool CheckValue(const std::string& key, std::string_view value, std::u16string& units,
                std::string& reason) {
    if (value.empty()) return Refuse(reason, "the value of " + key + " is empty");
    if (!Utf8ToUtf16(value, units)) return Refuse(reason, "the value of " + key + " is not UTF-8");
    if (units.find(u'\0') != std::u16string::npos) {
        return Refuse(reason, "the value of " + key + " holds a NUL character");
    }
    if (units.size() > kMaxVersionValueUnits) {
        return Refuse(reason, "the value of " + key + " is longer than " +
                                  std::to_string(kMaxVersionValueUnits) + " characters");
    }
    uint64_t version = 0;
    if (key == "FileVersion" && !ParseDottedVersion(value, version)) {
        return Refuse(reason, "FileVersion " + EscapeForDisplay(value) +
                                  " is not up to four dotted numbers from 0 to 65535 (2.1.0.7)");
    }
    return true;
}

// One block: its header, key and value, then its children, each on a 32-bit boundary.
std::vector<uint8_t> Block(std::u16string_view key, uint32_t type, std::span<const uint8_t> value,
                           uint32_t valueLength,
                           const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> block(kBlockHeaderBytes, 0);
    for (const char16_t unit : key) AppendLe16(block, unit);
    AppendLe16(block, 0);
    PadTo4(block);
    block.insert(block.end(), value.begin(), value.end());
    for (const auto& child : children) {
        PadTo4(block);
        block.insert(block.end(), child.begin(), child.end());
    }
    WriteLe16(block.data(), static_cast<uint32_t>(block.size()));
    WriteLe16(block.data() + 2, valueLength);
    WriteLe16(block.data() + 4, type);
    return block;
}

std::vector<uint8_t> StringBlock(std::u16string_view key, std::u16string_view value) {
    std::vector<uint8_t> text;
    for (const char16_t unit : value) AppendLe16(text, unit);
    AppendLe16(text, 0);
    return Block(key, kTextType, text, static_cast<uint32_t>(value.size() + 1), {});
}

std::u16string TableKey(uint32_t language) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const uint32_t code = language << 16 | kCodePageUtf16;
    std::u16string key;
    for (int shift = 28; shift >= 0; shift -= 4) key.push_back(kDigits[(code >> shift) & 0xF]);
    return key;
}

std::vector<uint8_t> FixedInfo(const VersionInfo& info) {
    std::vector<uint8_t> fixed;
    for (const uint32_t field :
         {kFixedSignature, kFixedStructureVersion, uint32_t(info.fileVersion >> 32),
          uint32_t(info.fileVersion), uint32_t(info.productVersion >> 32),
          uint32_t(info.productVersion), kFileFlagsMask, 0u, kOsNtWindows32, kFileTypeApplication,
          0u, 0u, 0u}) {
        AppendLe32(fixed, field);
    }
    return fixed;
}

// ---- reading ----

struct BlockView {
    std::u16string key;
    uint32_t type = 0;
    std::span<const uint8_t> value;
    std::span<const uint8_t> children;  // from the first child, 32-bit aligned, to the end
    uint64_t length = 0;
};

// The block at the start of bytes (which starts on a 32-bit boundary), read within them.
bool ReadBlock(std::span<const uint8_t> bytes, BlockView& block) {
    if (bytes.size() < kBlockHeaderBytes) return false;
    block.length = ReadLe16(bytes.data());
    if (block.length < kBlockHeaderBytes || block.length > bytes.size()) return false;
    const auto inside = bytes.first(block.length);
    const uint64_t valueUnits = ReadLe16(bytes.data() + 2);
    block.type = ReadLe16(bytes.data() + 4);
    block.key.clear();
    uint64_t at = kBlockHeaderBytes;
    for (;; at += 2) {
        if (2 > inside.size() - at) return false;  // the key has no terminator
        const char16_t unit = static_cast<char16_t>(ReadLe16(inside.data() + at));
        if (unit == 0) break;
        block.key.push_back(unit);
    }
    const uint64_t valueStart = std::min<uint64_t>(AlignTo4(at + 2), inside.size());
    const uint64_t valueBytes = block.type == kTextType ? 2 * valueUnits : valueUnits;
    if (valueBytes > inside.size() - valueStart) return false;
    block.value = inside.subspan(valueStart, valueBytes);
    const uint64_t childStart =
        std::min<uint64_t>(AlignTo4(valueStart + valueBytes), inside.size());
    block.children = inside.subspan(childStart);
    return true;
}

// Calls take(child) for each child block; false when one does not hold together or take fails.
template <typename Take>
bool ForEachChild(std::span<const uint8_t> children, Take take) {
    uint64_t at = 0;
    while (at < children.size()) {
        BlockView child;
        if (!ReadBlock(children.subspan(at), child) || !take(child)) return false;
        at = std::min<uint64_t>(AlignTo4(at + child.length), children.size());
    }
    return true;
}

// A text value up to its terminator (some writers count it, some do not).
std::u16string TextOf(std::span<const uint8_t> value) {
    std::u16string text;
    for (uint64_t at = 0; at + 2 <= value.size(); at += 2) {
        const char16_t unit = static_cast<char16_t>(ReadLe16(value.data() + at));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

bool ReadStringTable(const BlockView& table, VersionInfo& info) {
    VersionStringTable& out = info.tables.emplace_back();
    out.language = table.key;
    return ForEachChild(table.children, [&](const BlockView& string) {
        out.strings.emplace_back(string.key, TextOf(string.value));
        return true;
    });
}

bool ReadTranslations(const BlockView& var, VersionInfo& info) {
    if (var.key != u"Translation") return true;
    if (var.value.size() % 4 != 0) return false;
    for (uint64_t at = 0; at < var.value.size(); at += 4) {
        const uint32_t language = ReadLe16(var.value.data() + at);
        info.translations.push_back(ReadLe16(var.value.data() + at + 2) << 16 | language);
    }
    return true;
}

bool ReadFixedInfo(std::span<const uint8_t> value, VersionInfo& info) {
    if (value.empty()) return true;
    if (value.size() != kFixedInfoBytes || ReadLe32(value.data()) != kFixedSignature) return false;
    auto version = [&](uint64_t at) {
        return uint64_t{ReadLe32(value.data() + at)} << 32 | ReadLe32(value.data() + at + 4);
    };
    info.fileVersion = version(8);
    info.productVersion = version(16);
    return true;
}

bool ReadRootChild(const BlockView& child, VersionInfo& info) {
    if (child.key == u"StringFileInfo") {
        return ForEachChild(child.children,
                            [&](const BlockView& table) { return ReadStringTable(table, info); });
    }
    if (child.key == u"VarFileInfo") {
        return ForEachChild(child.children,
                            [&](const BlockView& var) { return ReadTranslations(var, info); });
    }
    return true;
}

}  // namespace

bool SetVersionInfo(std::string_view setting, VersionInfo& info, std::string& reason) {
    const size_t equals = setting.find('=');
    if (equals == std::string_view::npos) {
        return Refuse(reason, EscapeForDisplay(setting) + " is not KEY=VALUE");
    }
    const std::string key(setting.substr(0, equals));
    if (!IsKnownKey(key)) {
        return Refuse(
            reason, "unknown key " + EscapeForDisplay(key) + " (the keys are " + KnownKeys() + ")");
    }
    const std::u16string wideKey = WidenAscii(key);
    if (FindString(info, wideKey) != nullptr) return Refuse(reason, key + " is given twice");
    std::u16string value;
    if (!CheckValue(key, setting.substr(equals + 1), value, reason)) return false;
    const size_t rank = KeyRank(wideKey);
    const auto place =
        std::find_if(info.strings.begin(), info.strings.end(),
                     [&](const auto& string) { return KeyRank(string.first) > rank; });
    info.strings.insert(place, {wideKey, value});
    SetFixedVersions(info);
    return true;
}

std::vector<uint8_t> BuildVersionResource(const VersionInfo& info) {
    std::vector<std::vector<uint8_t>> strings;
    for (const auto& [key, value] : info.strings) strings.push_back(StringBlock(key, value));
    std::vector<std::vector<uint8_t>> tables;
    std::vector<uint8_t> translations;
    for (const uint32_t language : kTableLanguages) {
        tables.push_back(Block(TableKey(language), kTextType, {}, 0, strings));
        AppendLe16(translations, language);
        AppendLe16(translations, kCodePageUtf16);
    }
    const auto translation = Block(u"Translation", kBinaryType, translations,
                                   static_cast<uint32_t>(translations.size()), {});
    const auto fixed = FixedInfo(info);
    return Block(u"VS_VERSION_INFO", kBinaryType, fixed, static_cast<uint32_t>(fixed.size()),
                 {Block(u"StringFileInfo", kTextType, {}, 0, tables),
                  Block(u"VarFileInfo", kTextType, {}, 0, {translation})});
}

bool ReadVersionResource(std::span<const uint8_t> resource, VersionInfo& info,
                         std::string& reason) {
    info = {};
    BlockView root;
    VersionInfo read;
    if (!ReadBlock(resource, root) || root.key != u"VS_VERSION_INFO" ||
        !ReadFixedInfo(root.value, read) ||
        !ForEachChild(root.children,
                      [&](const BlockView& child) { return ReadRootChild(child, read); })) {
        return Refuse(reason, "damaged version information: its blocks do not hold together");
    }
    if (!read.tables.empty()) read.strings = read.tables.front().strings;
    info = std::move(read);
    return true;
}

}  // namespace winqor
