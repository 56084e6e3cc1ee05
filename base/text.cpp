#include "base/text.h"

#include "base/limits.h"

#include <cstdint>

namespace winqor {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Decodes the code point at in[i], advancing i; returns false for a lone surrogate.
bool NextCodePoint(std::u16string_view in, size_t& i, char32_t& cp) {
    char16_t unit = in[i++];
    if (IsHighSurrogate(unit) && i < in.size() && IsLowSurrogate(in[i])) {
        cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (in[i++] - 0xDC00);
        return true;
    }
    cp = unit;
    return !IsHighSurrogate(unit) && !IsLowSurrogate(unit);
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(char32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
        return;
    }
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
}

// Length of the UTF-8 sequence that starts with lead, or 0 for a byte that cannot start one.
int SequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes the UTF-8 sequence at in[i], advancing i; rejects overlong forms and surrogates.
bool NextUtf8(std::string_view in, size_t& i, char32_t& cp) {
    auto lead = static_cast<uint8_t>(in[i]);
    int length = SequenceLength(lead);
    if (length == 0 || in.size() - i < static_cast<size_t>(length)) return false;
    cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        auto unit = static_cast<uint8_t>(in[i + k]);
        if ((unit & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (unit & 0x3F);
    }
    i += length;
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    return cp >= kSmallest[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

// Converts in code point by code point into out; false at the first one next refuses (out
// is then unspecified).
template <typename In, typename Out, typename Next, typename Append>
bool ConvertStrictly(In in, Out& out, Next next, Append append) {
    out.clear();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        char32_t cp;
        if (!next(in, i, cp)) return false;
        append(cp, out);
    }
    return true;
}

}  // namespace

size_t Utf16Length(const char16_t* text) {
    size_t length = 0;
    while (text != nullptr && text[length] != 0) ++length;
    return length;
}

std::u16string_view Utf16View(const char16_t* text) {
    return {text, Utf16Length(text)};
}

std::string WithThousands(uint64_t value) {
    const std::string digits = std::to_string(value);
    const size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
    std::string out = digits.substr(0, lead);
    for (size_t at = lead; at < digits.size(); at += 3) out.append(",").append(digits, at, 3);
    return out;
}

bool IsValidUtf16(std::u16string_view text) {
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        if (!NextCodePoint(text, i, cp)) return false;
    }
    return true;
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
    return ConvertStrictly(in, out, NextCodePoint, AppendUtf8);
}

std::string Utf16ToUtf8Lossy(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        char32_t cp;
        AppendUtf8(NextCodePoint(in, i, cp) ? cp : kReplacement, out);
    }
    return out;
}

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
    return ConvertStrictly(in, out, NextUtf8, AppendUtf16);
}

uint32_t Utf8ToUtf16Buffer(std::string_view in, char16_t* buffer, uint32_t units) {
    std::u16string wide;
    if (buffer == nullptr || in.empty() || !Utf8ToUtf16(in, wide) || wide.size() >= units) {
        return 0;
    }
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = 0;
    return static_cast<uint32_t>(wide.size());
}

std::u16string WidenAscii(std::string_view ascii) {
    std::u16string wide;
    wide.reserve(ascii.size());
    for (const char c : ascii) {
        wide += static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : char16_t{0xFFFD};
    }
    return wide;
}

char16_t AsciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

namespace {

void AppendHexEscape(char byte, std::string& out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto value = static_cast<uint8_t>(byte);
    out += "\\x";
    out += kDigits[value >> 4];
    out += kDigits[value & 15];
}

// The short escape of a character that has one, or null.
const char* NamedEscape(char32_t cp, const char* backslash) {
    switch (cp) {
        case U'\n':
            return "\\n";
        case U'\r':
            return "\\r";
        case U'\t':
            return "\\t";
        case U'\\':
            return backslash;
        default:
            return nullptr;
    }
}

bool IsControl(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

// backslash: what a backslash becomes, null for itself.
std::string Escape(std::string_view text, const char* backslash) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        char32_t cp;
        if (!NextUtf8(text, i, cp)) {
            AppendHexEscape(text[start], out);  // one byte; what follows it is decoded anew
            i = start + 1;
        } else if (const char* named = NamedEscape(cp, backslash)) {
            out += named;
        } else if (IsControl(cp)) {
            for (size_t k = start; k < i; ++k) AppendHexEscape(text[k], out);
        } else {
            out.append(text.substr(start, i - start));
        }
    }
    return out;
}

}  // namespace

std::string EscapeForDisplay(std::string_view text) {
    return Escape(text, kPathSeparator == u'\\' ? nullptr : "\\\\");
}

std::string EscapeControls(std::string_view text) {
    return Escape(text, nullptr);
}

std::u16string QuoteWindowsArgument(std::u16string_view argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
        return std::u16string(argument);
    }
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (const char16_t unit : argument) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each stands for half of a pair.
        quoted.append(unit == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        quoted += unit;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, u'\\');
    return quoted + u"\"";
}

}  // namespace winqor
