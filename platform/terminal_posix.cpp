#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/terminal.h"

namespace winqor {
namespace {

// The settings to restore, reachable from a signal handler.
struct termios g_savedSettings;
volatile sig_atomic_t g_echoOff = 0;

constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
struct sigaction g_previousActions[sizeof kRestoringSignals / sizeof kRestoringSignals[0]];

void RestoreEcho() {
    if (g_echoOff) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedSettings);
    g_echoOff = 0;
}

// Gives the terminal its echo back, then lets the signal do what it would have done.
void OnSignal(int signalNumber) {
    RestoreEcho();
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void InstallHandlers() {
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    ::sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kRestoringSignals / sizeof kRestoringSignals[0]; ++i) {
        ::sigaction(kRestoringSignals[i], &action, &g_previousActions[i]);
    }
}

void RemoveHandlers() {
    for (size_t i = 0; i < sizeof kRestoringSignals / sizeof kRestoringSignals[0]; ++i) {
        ::sigaction(kRestoringSignals[i], &g_previousActions[i], nullptr);
    }
}

void WriteText(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<size_t>(written);
    }
}

// Reads byte by byte so that nothing after the line is taken from standard input.
bool ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        char c;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return !line.empty();
        if (c == '\n') return true;
        line += c;
    }
}

// The prompt goes to the terminal itself, so that it shows also when standard error is
// redirected; standard error stands in when there is no terminal to open.
int OpenPromptStream() {
    const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return fd >= 0 ? fd : STDERR_FILENO;
}

}  // namespace

bool StandardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool ReadLineWithoutEcho(const std::string& prompt, std::string& line) {
    InstallHandlers();
    if (::tcgetattr(STDIN_FILENO, &g_savedSettings) == 0) {
        struct termios quiet = g_savedSettings;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        // TCSANOW: what was typed ahead of the prompt stays to be read.
        if (::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0) g_echoOff = 1;
    }
    // Only now the prompt: whatever is typed once it shows is not echoed.
    const int promptFd = OpenPromptStream();
    WriteText(promptFd, prompt);
    const bool read = ReadLine(line);
    RestoreEcho();
    RemoveHandlers();
    WriteText(promptFd, "\n");
    if (promptFd != STDERR_FILENO) ::close(promptFd);
    return read;
}

}  // namespace winqor
