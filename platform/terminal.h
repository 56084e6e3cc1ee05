// The controlling terminal, for a password asked without a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace winqor {

// The longest password line read, from the terminal or from a file.
inline constexpr size_t kMaxPasswordLineBytes = 4096;

// True when standard input is a terminal.
bool StandardInputIsTerminal();

// Writes prompt to standard error and reads one line from standard input with echo off (the
// terminal's settings are restored afterwards, also when an interrupt ends the program). The
// line end is not kept, nor any byte past kMaxPasswordLineBytes. false at the end of input or
// on a read error.
bool ReadPasswordFromTerminal(const char* prompt, std::string& line);

// Writes prompt to standard error and reads one key from standard input as it is pressed,
// without echo and without waiting for Enter (the terminal's settings are restored afterwards,
// also when an interrupt ends the program). false at the end of input or on a read error.
bool ReadKeyFromTerminal(const char* prompt, char& key);

// The size of the terminal that standard input is, in characters; zero rows when it is no
// terminal or does not say.
struct TerminalSize {
    uint32_t rows = 0;
    uint32_t columns = 0;
};
TerminalSize SizeOfTerminal();

// Where WriteToConsole writes.
enum class ConsoleStream { kOutput, kError };

// Writes text (UTF-8) to standard output or standard error. A Windows program started from a
// console window has no standard streams of its own: it writes to its parent's console, when
// there is one. false when there is nowhere to write.
bool WriteToConsole(ConsoleStream stream, std::string_view text);

}  // namespace winqor
