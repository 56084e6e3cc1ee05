// The debug channel: the program's only diagnostics. Every message goes to one sink in a
// single piece; the default sink writes it, as UTF-8, to standard error in one write (on
// Windows: to the debugger's output channel, OutputDebugStringW, as UTF-16).
#pragma once

#include <functional>
#include <string_view>

namespace winqor {

// Receives each message, already converted to UTF-8.
using DebugSink = std::function<void(std::string_view)>;

// Replaces the sink and returns the previous one. An empty sink silences the channel.
DebugSink SetDebugSink(DebugSink sink);

// Restores the default sink (standard error; the debugger's output channel on Windows).
void UseStandardErrorSink();

// Passes on a message that another sink received (in a child process, say), as it stands.
void ForwardDebugText(std::string_view text);

// Sends a terminated UTF-16 text as it stands, without formatting.
void OutputDebugString(const char16_t* text);

// Room, in UTF-16 units, of the buffer DebugPrint formats into: at most 2,047 characters pass.
inline constexpr int kDebugPrintUnits = 2048;

// printf-style formatting of a UTF-16 format: %s takes a terminated const char16_t*, shown
// escaped as EscapeForDisplay (platform/text.h) shows it, %d an int, %u an unsigned int, %% a
// percent sign. The text is cut to 2,047 units; nothing is added.
void DebugPrint(const char16_t* format, ...);

}  // namespace winqor
