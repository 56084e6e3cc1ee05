#include "platform/debug.h"

#include <cstdarg>
#include <string>
#include <utility>

#include "platform/text.h"

namespace winqor {

// The system's default sink: standard error on Linux, the debugger's output on Windows.
void WriteToDefaultDebugSink(std::string_view text);  // debug_posix.cpp, debug_win32.cpp

namespace {

DebugSink& CurrentSink() {
    static DebugSink sink = WriteToDefaultDebugSink;
    return sink;
}

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
    void PutAscii(const std::string& text) {
        for (char c : text) Put(static_cast<char16_t>(c));
    }
    void Terminate() { buffer_[length_] = 0; }

  private:
    char16_t* buffer_;
    int limit_;
    int length_ = 0;
};

// A name as the terminal may show it: the same escaping as every aze message, so that an
// archive's names cannot forge lines or send the terminal a command through this channel.
std::u16string EscapedForDisplay(const char16_t* text) {
    std::u16string escaped;
    Utf8ToUtf16(EscapeForDisplay(Utf16ToUtf8Lossy(Utf16View(text))), escaped);
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

DebugSink SetDebugSink(DebugSink sink) {
    return std::exchange(CurrentSink(), std::move(sink));
}

void UseStandardErrorSink() {
    CurrentSink() = WriteToDefaultDebugSink;
}

void ForwardDebugText(std::string_view text) {
    if (CurrentSink()) CurrentSink()(text);
}

void OutputDebugString(const char16_t* text) {
    if (text == nullptr || !CurrentSink()) return;
    CurrentSink()(Utf16ToUtf8Lossy(std::u16string_view(text, Utf16Length(text))));
}

void DebugPrint(const char16_t* format, ...) {
    if (format == nullptr) return;
    char16_t buffer[kDebugPrintUnits];
    BoundedText out(buffer, kDebugPrintUnits);
    va_list args;
    va_start(args, format);
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%' || p[1] == 0) {
            out.Put(*p);
        } else if (FormatConversion(p[1], args, out)) {
            ++p;
        } else {
            out.Put(*p);
        }
    }
    va_end(args);
    out.Terminate();
    OutputDebugString(buffer);
}

}  // namespace winqor
