#include "engine/json_listing.h"

#include "base/text.h"
#include "format/record_stream.h"

namespace winqor {
namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Units that cannot stand as they are: JSON forbids raw C0 controls, and DEL and the C1
// controls would reach a terminal that shows the listing.
bool NeedsUnicodeEscape(char16_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || IsHighSurrogate(unit) ||
           IsLowSurrogate(unit);
}

void AppendUnicodeEscape(std::string& out, char16_t unit) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::string JsonString(std::u16string_view text) {
    std::string out = "\"";
    size_t plain = 0;  // start of the run of units copied as UTF-8
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;  // a pair is one character, copied with its run
            continue;
        }
        if (!NeedsUnicodeEscape(unit) && unit != u'"' && unit != u'\\') continue;
        out += Utf16ToUtf8Lossy(text.substr(plain, i - plain));
        if (NeedsUnicodeEscape(unit)) {
            AppendUnicodeEscape(out, unit);
        } else {
            out += '\\';
            out += static_cast<char>(unit);
        }
        plain = i + 1;
    }
    out += Utf16ToUtf8Lossy(text.substr(plain));
    return out + "\"";
}

bool JsonListingSink::Directory(const char16_t*, const char16_t* const* components,
                                uint32_t count) {
    folder_.clear();
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0) folder_ += u'/';
        folder_ += components[i];
    }
    // The root is where everything goes, not one of the archive's folders.
    if (count > 0) writeLine_(R"({"type":"folder","path":)" + JsonString(folder_) + "}\n");
    return true;
}

bool JsonListingSink::File(const char16_t* name, uint32_t attributes,
                           std::optional<uint32_t> permissions, const uint8_t*, uint32_t size) {
    const std::u16string path = folder_.empty() ? std::u16string(name) : folder_ + u'/' + name;
    const bool readOnly = (attributes & kAttributeReadOnly) != 0;
    std::string line = R"({"type":"file","path":)" + JsonString(path) + R"(,"size":)" +
                       std::to_string(size) + R"(,"readOnly":)" + (readOnly ? "true" : "false");
    if (permissions) {
        line += R"(,"executable":)";
        line += (*permissions & kExecuteBits) != 0 ? "true" : "false";
    }
    writeLine_(line + "}\n");
    return true;
}

std::unique_ptr<RecordSink> NewJsonListingSink(std::function<void(std::string_view)> writeLine) {
    return std::make_unique<JsonListingSink>(std::move(writeLine));
}

}  // namespace winqor
