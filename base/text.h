// Conversion between the UTF-16 names of the core and the UTF-8 of the system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace winqor {

// Length in units of a terminated UTF-16 string; 0 for null.
size_t Utf16Length(const char16_t* text);

// A terminated UTF-16 string as a view, without its terminator; empty for null.
std::u16string_view Utf16View(const char16_t* text);

// False when the text holds a lone surrogate.
bool IsValidUtf16(std::u16string_view text);

// Strict conversion: false for a lone surrogate (out is then unspecified).
bool Utf16ToUtf8(std::u16string_view in, std::string& out);

// For display only: a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8Lossy(std::u16string_view in);

// Strict conversion: false for a byte sequence that is not UTF-8.
bool Utf8ToUtf16(std::string_view in, std::u16string& out);

// The same into buffer, terminated: the units written, or 0 (buffer unspecified) when the text
// is empty, is not UTF-8 or does not fit units units with its terminator.
uint32_t Utf8ToUtf16Buffer(std::string_view in, char16_t* buffer, uint32_t units);

// ASCII text, such as a number or a message of the program's own, as UTF-16; a byte that is
// not ASCII becomes U+FFFD.
std::u16string WidenAscii(std::string_view ascii);

// 'a' to 'z' in upper case, every other unit as it is: how Windows compares resource names
// and drive letters.
char16_t AsciiUpper(char16_t c);

// A number in decimal with its digits grouped by threes for a message: 10485504 gives
// "10,485,504".
std::string WithThousands(uint64_t value);

// Text fit to show on a terminal as part of one line, so that a name cannot forge lines, hide
// what comes before it or send the terminal a command: printable UTF-8 stays as it is; a line
// feed, carriage return, tab and backslash become \n, \r, \t and \\; every other control
// character (below 0x20, 0x7F, and U+0080 to U+009F as its two bytes) and every byte that is
// not part of valid UTF-8 becomes \xHH, in lower case. Where the backslash separates folders
// (Windows), no name holds one and it stays as it is, so that paths read as paths.
std::string EscapeForDisplay(std::string_view text);

// A name as stored, escaped as EscapeForDisplay escapes it but for the backslash, which stays
// as it is on every system: the debug channel's traces show an archive's names alike on Linux
// and Windows, where a backslash in a name cannot be told from a separator anyway.
std::string EscapeControls(std::string_view text);

// One argument as a Windows command line writes it, so that CommandLineToArgvW (and the C
// runtime's own parser) gives it back unchanged: quoted when empty or when it holds a space, a
// tab or a quote, with the backslashes before a quote or the closing quote doubled.
std::u16string QuoteWindowsArgument(std::u16string_view argument);

}  // namespace winqor
