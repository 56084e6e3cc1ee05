#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <string_view>

#include "platform/terminal.h"

#include "platform/posix/coverage_counts.h"
#include "platform/posix/support.h"

namespace winqor {

void WriteToStandardError(std::string_view text);  // platform/posix/debug.cpp

namespace {

constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

struct termios g_savedSettings;
volatile sig_atomic_t g_echoIsOff = 0;

// An interrupt while echo is off would leave the user's terminal without echo. (A coverage
// build writes its counts first: the signal ends the program without its normal exit.)
void RestoreAndRaise(int signal) {
    if (g_echoIsOff != 0) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedSettings);
    posix::WriteCounts();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

class EchoOff {
  public:
    // singleKeys: each key is read as it is pressed, not once a line is complete.
    explicit EchoOff(bool singleKeys = false) {
        if (::tcgetattr(STDIN_FILENO, &g_savedSettings) != 0) return;
        struct sigaction action = {};
        action.sa_handler = RestoreAndRaise;
        for (size_t i = 0; i < std::size(kRestoringSignals); ++i) {
            ::sigaction(kRestoringSignals[i], &action, &previous_[i]);
        }
        struct termios quiet = g_savedSettings;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        if (singleKeys) {
            quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHONL);
            quiet.c_cc[VMIN] = 1;
            quiet.c_cc[VTIME] = 0;
        }
        g_echoIsOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0 ? 1 : 0;
        active_ = true;
    }
    ~EchoOff() {
        if (!active_) return;
        if (g_echoIsOff != 0) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedSettings);
        g_echoIsOff = 0;
        for (size_t i = 0; i < std::size(kRestoringSignals); ++i) {
            ::sigaction(kRestoringSignals[i], &previous_[i], nullptr);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool active_ = false;
    struct sigaction previous_[std::size(kRestoringSignals)];
};

// 1 for a byte, 0 at the end of input, -1 on an error.
int ReadByte(char& byte) {
    return static_cast<int>(posix::ReadFully(STDIN_FILENO, &byte, 1));
}

}  // namespace

bool StandardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool ReadPasswordFromTerminal(const char* prompt, std::string& line) {
    line.clear();
    if (prompt != nullptr) WriteToStandardError(prompt);
    EchoOff quiet;
    char byte;
    int got;
    bool any = false;
    while ((got = ReadByte(byte)) == 1 && byte != '\n') {
        any = true;
        // The rest of a longer line is read and dropped.
        if (line.size() < kMaxPasswordLineBytes) line += byte;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // The end of input echoes no line end; the next output starts on a line of its own.
    if (got != 1) WriteToStandardError("\n");
    return got == 1 || (got == 0 && any);
}

bool ReadKeyFromTerminal(const char* prompt, char& key) {
    if (prompt != nullptr) WriteToStandardError(prompt);
    EchoOff keys(/*singleKeys=*/true);
    const bool got = ReadByte(key) == 1;
    WriteToStandardError("\n");
    return got;
}

TerminalSize SizeOfTerminal() {
    struct winsize size = {};
    if (::ioctl(STDIN_FILENO, TIOCGWINSZ, &size) != 0) return {};
    return {size.ws_row, size.ws_col};
}

bool WriteToConsole(ConsoleStream stream, std::string_view text) {
    return posix::WriteFully(stream == ConsoleStream::kOutput ? STDOUT_FILENO : STDERR_FILENO,
                             text.data(), text.size());
}

}  // namespace winqor
