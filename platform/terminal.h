// The controlling terminal, for a password asked without a window.
#pragma once

#include <string>

namespace winqor {

// True when standard input is a terminal.
bool StandardInputIsTerminal();

// Writes prompt to standard error and reads one line from standard input with echo off (the
// terminal's settings are restored afterwards, also when an interrupt ends the program). The
// line end is not kept. false at the end of input or on a read error.
bool ReadPasswordFromTerminal(const char* prompt, std::string& line);

}  // namespace winqor
