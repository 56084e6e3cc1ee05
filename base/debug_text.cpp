#include "base/debug_text.h"

#include <string>

#include "base/text.h"

namespace winqor {
namespace {

// Appends to a bounded UTF-16 buffer, always leaving room for the terminator.
class BoundedText {
  public:
    BoundedText(char16_t* buffer, int units) : buffer_(buffer), limit_(units - 1) {}
    void Put(char16_t unit) {
        if (length_ < limit_) buffer_[length_++] = unit;
    }
    void Put(const char16_t* text) {
        for (; text != nullptr && *text != 0 && length_ < limit_; ++text) Put(*text);
    }
    void PutAscii(const std::string& text) { Put(WidenAscii(text).c_str()); }
    void Terminate() { buffer_[length_] = 0; }

  private:
    char16_t* buffer_;
    int limit_;
    int length_ = 0;
};

// A name as the terminal may show it: its control characters escaped, so that an archive's
// names cannot forge lines or send the terminal a command through this channel; otherwise as
// stored, backslashes too, so that both systems' traces say a name alike.
std::u16string EscapedForDisplay(const char16_t* text) {
    std::u16string escaped;
    Utf8ToUtf16(EscapeControls(Utf16ToUtf8Lossy(Utf16View(text))), escaped);
    return escaped;
}

// Formats one conversion; returns false for a conversion it does not know.
bool FormatConversion(char16_t conversion, va_list& args, BoundedText& out) {
    switch (conversion) {
        case u's':
            out.Put(EscapedForDisplay(va_arg(args, const char16_t*)).c_str());
            return true;
        case u'd':
            out.PutAscii(std::to_string(va_arg(args, int)));
            return true;
        case u'u':
            out.PutAscii(std::to_string(va_arg(args, unsigned int)));
            return true;
        case u'%':
            out.Put(u'%');
            return true;
        default:
            return false;
    }
}

}  // namespace

void FormatDebugText(char16_t* buffer, int units, const char16_t* format, va_list& args) {
    BoundedText out(buffer, units);
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%' || p[1] == 0) {
            out.Put(*p);
        } else if (FormatConversion(p[1], args, out)) {
            ++p;
        } else {
            out.Put(*p);
        }
    }
    out.Terminate();
}

}  // namespace winqor
