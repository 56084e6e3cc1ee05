#include "platform/win32/support.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "platform/process.h"
#include "platform/program_start_hooks.h"

namespace winqor {

using namespace win32;
namespace {

constexpr DWORD kErrorElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED

// The program this run wrote, opened without following a reparse point and shared for reading
// only: while the handle is open, nobody writes, renames or removes the file. Empty when the
// name holds anything else than that regular file of the running user.
Handle OpenExpectedProgram(HANDLE folder, const std::wstring& name, const FileId& expected) {
    const RelativeOpen how{FILE_READ_DATA | FILE_EXECUTE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                           FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE};
    Handle program;
    FileFacts facts;
    if (!NT_SUCCESS(OpenBelow(folder, name, how, program)) || !FactsOf(program.get(), facts) ||
        IsReparsePoint(facts.attributes) || EntryIsReparsePoint(folder, name) ||
        !IsRegularFile(program.get(), facts) || !(facts.id == expected) ||
        !IsOwnedByRunningUser(program.get())) {
        return Handle();
    }
    return program;
}

// Every process the program starts belongs to this job, so that the wait can last until the
// last of them ends: an installer that starts a copy of itself and exits is still waited for.
// The job's completion port tells when it has no process left.
struct ProgramJob {
    Handle job;
    Handle port;

    bool Create() {
        job.Reset(::CreateJobObjectW(nullptr, nullptr));
        port.Reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
        if (!job.valid() || !port.valid()) return false;
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {};
        link.CompletionKey = job.get();
        link.CompletionPort = port.get();
        return ::SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation,
                                         &link, sizeof link) != 0;
    }
    bool Adopt(HANDLE process) const {
        return job.valid() && ::AssignProcessToJobObject(job.get(), process) != 0;
    }
    bool Empty() const {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION facts = {};
        return !::QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &facts,
                                            sizeof facts, nullptr) ||
               facts.ActiveProcesses == 0;
    }
    // Until no process of the job is left. The port's message says so at once; the count is
    // looked at too, now and then, in case a system posts no such message.
    void WaitUntilEmpty() const {
        constexpr DWORD kLookAgainMs = 250;
        while (!Empty()) {
            DWORD message = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlapped = nullptr;
            if (::GetQueuedCompletionStatus(port.get(), &message, &key, &overlapped,
                                            kLookAgainMs) &&
                message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
                return;
            }
        }
    }
};

// The arguments as a command line's tail, each quoted so that the program's parser gives it
// back as it stands.
std::wstring ArgumentLine(const std::vector<std::u16string>& arguments) {
    std::u16string line;
    for (const std::u16string& argument : arguments) {
        if (!line.empty()) line += u' ';
        line += QuoteWindowsArgument(argument);
    }
    return WideString(line);
}

// Started by its full path as the program to run, so that nothing is searched for and a path
// with spaces is not split; its command line is that path, quoted, and the arguments. It
// starts suspended, so that it is in the job before it can start anything.
Handle Start(const std::wstring& path, const std::wstring& argumentLine, const ProgramJob& job,
             bool& needsElevation) {
    if (CurrentProgramStartHooks().ElevationRequired()) {
        needsElevation = true;
        return Handle();
    }
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!argumentLine.empty()) commandLine += L" " + argumentLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                          &process)) {
        needsElevation = ::GetLastError() == kErrorElevationRequired;
        return Handle();
    }
    job.Adopt(process.hProcess);
    ::ResumeThread(process.hThread);
    ::CloseHandle(process.hThread);
    return Handle(process.hProcess);
}

// A program whose manifest asks for an administrator's rights cannot be started by
// CreateProcessW; the shell starts it after asking the user.
Handle StartElevated(const std::wstring& path, const std::wstring& argumentLine) {
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW shell = {};
    shell.cbSize = sizeof shell;
    shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    shell.lpFile = path.c_str();
    shell.lpParameters = argumentLine.empty() ? nullptr : argumentLine.c_str();
    shell.nShow = SW_SHOWNORMAL;
    const bool started = ::ShellExecuteExW(&shell) != 0;
    if (SUCCEEDED(com)) ::CoUninitialize();
    return started ? Handle(shell.hProcess) : Handle();
}

}  // namespace

uint32_t GetModuleFileName(char16_t* buffer, uint32_t units) {
    if (buffer == nullptr || units == 0) return 0;
    const DWORD length = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), units);
    // A path that fills the buffer was cut.
    return length == 0 || length >= units ? 0 : length;
}

int StartProgramAndWait(DirectoryHandle folder, const char16_t* name, const FileId& expected,
                        uint32_t* exitStatus, const std::vector<std::u16string>& arguments) {
    std::wstring wide;
    if (folder == kInvalidDirectory || !WidePath(name, wide)) return 0;
    Handle program = OpenExpectedProgram(AsHandle(folder), wide, expected);
    const std::wstring path = program.valid() ? PathOfHandle(program.get()) : std::wstring();
    if (path.empty()) return 0;
    ProgramJob job;
    const bool jobbed = job.Create();
    bool needsElevation = false;
    const std::wstring argumentLine = ArgumentLine(arguments);
    Handle process = Start(path, argumentLine, job, needsElevation);
    // The shell's program is already running: what it started before joining escapes the job.
    if (!process.valid() && needsElevation) {
        process = StartElevated(path, argumentLine);
        if (process.valid()) job.Adopt(process.get());
    }
    // Once the program runs, its image is what runs, whatever becomes of the file.
    program.Reset();
    if (!process.valid()) return 0;
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD status = 0;
    if (exitStatus != nullptr && ::GetExitCodeProcess(process.get(), &status)) *exitStatus = status;
    if (jobbed) job.WaitUntilEmpty();
    ::Sleep(static_cast<DWORD>(kPauseAfterProgram.count()));
    return 1;
}

// Windows has no sandboxed child: the caller does the work in this process.
void HoldOwnProgramFile() {}

ChildEnd RunChildProgram(const ChildStart&, const MessageFromChild&, const ChildLimits&,
                         std::string& reason) {
    reason = "Windows has no sandboxed child process";
    return ChildEnd::kUnsupported;
}

bool IsSandboxedChildStart(int, const char* const*, ChildChannel&) {
    return false;
}

void EndChildProcess(int status) {
    ::ExitProcess(static_cast<UINT>(status));
}

bool SendToParent(FileHandle, std::string_view) {
    return false;
}

bool ReceiveFromParent(FileHandle, uint32_t, std::string&) {
    return false;
}

// Windows has no file-size limit signal: a write past a limit fails as a write.
void IgnoreFileSizeLimitSignal() {}

// The loader looks in the program's own folder and the current one first unless told not to.
void RestrictLibrarySearch() {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace winqor
