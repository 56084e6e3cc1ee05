// Asking the person at the terminal, for secrets that must not show on the screen.
#pragma once

#include <string>

namespace winqor {

// True when standard input is a terminal.
bool StandardInputIsTerminal();

// Shows prompt on the terminal and reads one line from standard input with echo turned off;
// the line end is not part of line. The terminal's settings are restored afterwards, also
// when the program is interrupted while it waits. false at the end of input or on an error.
bool ReadLineWithoutEcho(const std::string& prompt, std::string& line);

}  // namespace winqor
