#include "platform/win32/support.h"

#include <atomic>
#include <string>
#include <string_view>

#include "platform/terminal.h"

namespace winqor {

void WriteToStandardError(std::string_view text);  // platform/win32/debug.cpp

using namespace win32;
namespace {

constexpr DWORD kChunkUnits = 256;
constexpr wchar_t kEndOfInput = 0x1A;  // Ctrl+Z at the start of a console line

HANDLE g_input = nullptr;
DWORD g_savedMode = 0;
std::atomic<bool> g_echoIsOff{false};

// Ctrl+C or a closing console while echo is off would leave the console without echo. The
// handler runs on a thread of its own; FALSE lets the default handler end the process.
BOOL WINAPI RestoreOnInterrupt(DWORD) {
    if (g_echoIsOff.exchange(false)) ::SetConsoleMode(g_input, g_savedMode);
    return FALSE;
}

class EchoOff {
  public:
    explicit EchoOff(HANDLE input) {
        if (!::GetConsoleMode(input, &g_savedMode)) return;
        g_input = input;
        ::SetConsoleCtrlHandler(RestoreOnInterrupt, TRUE);
        // The console still edits the line; only the echo goes.
        const DWORD quiet =
            (g_savedMode & ~DWORD{ENABLE_ECHO_INPUT}) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
        g_echoIsOff = ::SetConsoleMode(input, quiet) != 0;
        active_ = true;
    }
    ~EchoOff() {
        if (!active_) return;
        if (g_echoIsOff.exchange(false)) ::SetConsoleMode(g_input, g_savedMode);
        ::SetConsoleCtrlHandler(RestoreOnInterrupt, FALSE);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool active_ = false;
};

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// Reads one console line up to its line feed; the units past the limit are read and dropped.
// 1 for a line, 0 at the end of input, -1 on an error.
int ReadConsoleLine(HANDLE input, std::u16string& line, bool& any) {
    wchar_t chunk[kChunkUnits];
    for (;;) {
        DWORD got = 0;
        if (!::ReadConsoleW(input, chunk, kChunkUnits, &got, nullptr)) return -1;
        if (got == 0) return 0;
        for (DWORD i = 0; i < got; ++i) {
            if (chunk[i] == L'\n') return 1;
            if (chunk[i] == kEndOfInput && !any) return 0;
            any = true;
            if (line.size() < kMaxPasswordLineBytes) line += static_cast<char16_t>(chunk[i]);
        }
    }
}

// Standard input that is a file or a pipe: bytes up to a line feed, as on Linux.
int ReadByteLine(HANDLE input, std::string& line, bool& any) {
    char byte;
    int64_t got;
    while ((got = ReadFully(input, &byte, 1)) == 1 && byte != '\n') {
        any = true;
        if (line.size() < kMaxPasswordLineBytes) line += byte;
    }
    return got == 1 ? 1 : static_cast<int>(got);
}

// The parent's console (cmd, PowerShell), attached once: a GUI program gets no console of its
// own. Null when the parent has none.
HANDLE ParentConsole() {
    static const HANDLE console = [] {
        if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED) {
            return HANDLE{nullptr};  // ERROR_ACCESS_DENIED: attached already
        }
        const HANDLE output =
            ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        return output == INVALID_HANDLE_VALUE ? HANDLE{nullptr} : output;
    }();
    return console;
}

// What the program was given for the stream (a file, a pipe, a console), else the parent's
// console.
HANDLE StreamHandle(ConsoleStream stream) {
    const HANDLE given =
        ::GetStdHandle(stream == ConsoleStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (given != nullptr && given != INVALID_HANDLE_VALUE) return given;
    return ParentConsole();
}

}  // namespace

// A console shows UTF-16 as it is; a file or a pipe gets the UTF-8 bytes.
bool WriteToConsole(ConsoleStream stream, std::string_view text) {
    const HANDLE handle = StreamHandle(stream);
    if (handle == nullptr) return false;
    if (!IsConsole(handle)) return WriteFully(handle, text.data(), text.size());
    std::u16string wide;
    if (!Utf8ToUtf16(text, wide)) return false;
    DWORD written = 0;
    return ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                           nullptr) != 0;
}

bool StandardInputIsTerminal() {
    return IsConsole(::GetStdHandle(STD_INPUT_HANDLE));
}

bool ReadPasswordFromTerminal(const char* prompt, std::string& line) {
    line.clear();
    if (prompt != nullptr) WriteToStandardError(prompt);
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    bool any = false;
    int got;
    if (IsConsole(input)) {
        std::u16string wide;
        {
            EchoOff quiet(input);
            got = ReadConsoleLine(input, wide, any);
        }
        line = Utf16ToUtf8Lossy(wide);
    } else {
        got = ReadByteLine(input, line, any);
    }
    if (line.size() > kMaxPasswordLineBytes) line.resize(kMaxPasswordLineBytes);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Without echo the console shows no line end either; the next output starts a line.
    WriteToStandardError("\n");
    return got == 1 || (got == 0 && any);
}

}  // namespace winqor

namespace winqor {

bool ReadKeyFromTerminal(const char* prompt, char& key) {
    if (prompt != nullptr) WriteToStandardError(prompt);
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    bool got = false;
    DWORD saved = 0;
    if (IsConsole(input) && ::GetConsoleMode(input, &saved)) {
        // Each key as it is pressed, not echoed; the mode is restored at once.
        ::SetConsoleMode(input, saved & ~DWORD{ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT});
        wchar_t unit = 0;
        DWORD count = 0;
        got = ::ReadConsoleW(input, &unit, 1, &count, nullptr) != 0 && count == 1;
        ::SetConsoleMode(input, saved);
        key = unit < 0x80 ? static_cast<char>(unit) : '?';
    } else {
        got = input != nullptr && input != INVALID_HANDLE_VALUE && ReadFully(input, &key, 1) == 1;
    }
    WriteToStandardError("\n");
    return got;
}

TerminalSize SizeOfTerminal() {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!::GetConsoleScreenBufferInfo(StreamHandle(ConsoleStream::kError), &info)) return {};
    return {static_cast<uint32_t>(info.srWindow.Bottom - info.srWindow.Top + 1),
            static_cast<uint32_t>(info.srWindow.Right - info.srWindow.Left + 1)};
}

}  // namespace winqor
