// The debug channel: the program's only diagnostics. Every message goes to one sink in a
// single piece; the default sink writes it, as UTF-8, to standard error in one write (on
// Windows: to the debugger's output channel, OutputDebugStringW, as UTF-16).
#pragma once

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/debug_text.h"
#include "base/text.h"

namespace winqor {

// Receives each message, already converted to UTF-8.
using DebugSink = std::function<void(std::string_view)>;

// The system's default sink: standard error on Linux, the debugger's output on Windows
// (platform/posix/debug.cpp, platform/win32/debug.cpp).
void WriteToDefaultDebugSink(std::string_view text);

inline DebugSink& CurrentDebugSink() {
    static DebugSink sink = WriteToDefaultDebugSink;
    return sink;
}

// The messages held back on this thread (DebugCapture); null when they go to the sink.
inline std::vector<std::string>*& HeldDebugMessages() {
    static thread_local std::vector<std::string>* held = nullptr;
    return held;
}

// While it lives, the messages of the thread that made it are kept, in order, instead of
// sent: a walk on a thread of its own says what it did only once its result is known, and
// in the order it would have said it alone.
class DebugCapture {
  public:
    DebugCapture() { HeldDebugMessages() = &messages_; }
    ~DebugCapture() { HeldDebugMessages() = nullptr; }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    // The messages kept, each as it was sent.
    std::vector<std::string> Take() { return std::move(messages_); }

  private:
    std::vector<std::string> messages_;
};

// Sends one message: held back on a thread that holds them, else to the sink.
inline void SendDebugText(std::string_view text) {
    if (std::vector<std::string>* held = HeldDebugMessages()) {
        held->emplace_back(text);
    } else if (CurrentDebugSink()) {
        CurrentDebugSink()(text);
    }
}

// Replaces the sink and returns the previous one. An empty sink silences the channel.
inline DebugSink SetDebugSink(DebugSink sink) {
    return std::exchange(CurrentDebugSink(), std::move(sink));
}

// Restores the default sink (standard error; the debugger's output channel on Windows).
inline void UseStandardErrorSink() {
    CurrentDebugSink() = WriteToDefaultDebugSink;
}

// Passes on a message that another sink received (in a child process, say), as it stands.
inline void ForwardDebugText(std::string_view text) {
    SendDebugText(text);
}

// Sends a terminated UTF-16 text as it stands, without formatting.
inline void OutputDebugString(const char16_t* text) {
    if (text == nullptr || (!CurrentDebugSink() && HeldDebugMessages() == nullptr)) return;
    SendDebugText(Utf16ToUtf8Lossy(Utf16View(text)));
}

// Room, in UTF-16 units, of the buffer DebugPrint formats into: at most 2,047 characters pass.
inline constexpr int kDebugPrintUnits = 2048;

// printf-style formatting of a UTF-16 format, as FormatDebugText (base/debug_text.h) does it.
// The text is cut to 2,047 units; nothing is added.
inline void DebugPrint(const char16_t* format, ...) {
    if (format == nullptr) return;
    char16_t buffer[kDebugPrintUnits];
    va_list args;
    va_start(args, format);
    FormatDebugText(buffer, kDebugPrintUnits, format, args);
    va_end(args);
    OutputDebugString(buffer);
}

}  // namespace winqor
