// Runs a program as its debugger and writes every text it sends to the debugger's output
// channel, whole and in order, to standard output (UTF-8 for a wide text, the bytes as they are
// for an ANSI one); exits with the program's exit status. Wine's own trace of the channel cuts
// long texts, which the comparison of the two builds' traces cannot take.
//
//   trace_run PROGRAM.exe
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string ReadText(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const size_t unit = info.fUnicode ? 2 : 1;
    std::vector<char> bytes(info.nDebugStringLength * unit);
    SIZE_T got = 0;
    if (!::ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &got)) {
        return {};
    }
    bytes.resize(got);
    if (!info.fUnicode) return std::string(bytes.data(), strnlen(bytes.data(), bytes.size()));
    const auto* wide = reinterpret_cast<const wchar_t*>(bytes.data());
    const int units = static_cast<int>(wcsnlen(wide, bytes.size() / 2));
    std::string utf8(static_cast<size_t>(units) * 3, '\0');
    utf8.resize(::WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: trace_run PROGRAM.exe\n", stderr);
        return 125;
    }
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE,
                          DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "trace_run: cannot start the program (error %lu)\n", ::GetLastError());
        return 125;
    }
    DWORD status = 125;
    for (bool running = true; running;) {
        DEBUG_EVENT event = {};
        if (!::WaitForDebugEvent(&event, INFINITE)) break;
        DWORD continueWith = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT: {
                const std::string text = ReadText(process.hProcess, event.u.DebugString);
                std::fwrite(text.data(), 1, text.size(), stdout);
                break;
            }
            case EXCEPTION_DEBUG_EVENT:
                // The program's own exceptions are its to handle.
                if (!event.u.Exception.dwFirstChance ||
                    event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    continueWith = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (event.u.LoadDll.hFile != nullptr) ::CloseHandle(event.u.LoadDll.hFile);
                break;
            case CREATE_PROCESS_DEBUG_EVENT:
                if (event.u.CreateProcessInfo.hFile != nullptr) {
                    ::CloseHandle(event.u.CreateProcessInfo.hFile);
                }
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                status = event.u.ExitProcess.dwExitCode;
                running = false;
                break;
            default:
                break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueWith);
    }
    std::fflush(stdout);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
