#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/limits.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

#include "platform/posix_support.h"

namespace winqor {

using namespace posix;
namespace {

// Converts a system path into a terminated UTF-16 buffer; its length, or 0 when it does not
// fit (or is not UTF-8).
uint32_t ToUtf16Buffer(std::string_view native, char16_t* buffer, uint32_t units) {
    std::u16string wide;
    if (buffer == nullptr || native.empty() || !Utf8ToUtf16(native, wide)) return 0;
    if (wide.size() >= units) return 0;
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = 0;
    return static_cast<uint32_t>(wide.size());
}

// The program this run wrote, opened without following a link (O_NONBLOCK: a pipe put there
// must not make the open wait). -1 when it is anything else.
int OpenExpectedProgram(int folder, const std::string& name, const FileId& expected) {
    Descriptor program(
        OpenAtRetrying(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (program.get() < 0 || ::fstat(program.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid()) {
        return -1;
    }
    const FileId id{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return id == expected ? program.Release() : -1;
}

// The program was written without execute permission (as extracted files are); it may be run
// all the same, since the archive asked for it.
bool MakeOwnerExecutable(int program) {
    struct stat info;
    if (::fstat(program, &info) != 0) return false;
    if ((info.st_mode & S_IXUSR) != 0) return true;
    return ::fchmod(program, (info.st_mode & 07777) | S_IXUSR) == 0;
}

// In the child: a binary starts from its descriptor, which closes on the way. A script's
// interpreter reads it through the descriptor, so that one stays open for it.
[[noreturn]] void ExecuteInChild(int program, int report, char* const* argv) {
    ::execveat(program, "", argv, environ, AT_EMPTY_PATH);
    if (errno == ENOENT && ::fcntl(program, F_SETFD, 0) == 0) {
        ::execveat(program, "", argv, environ, AT_EMPTY_PATH);
    }
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(report, &error, sizeof error);
    ::_exit(127);
}

// The program's argument vector: its name, then arguments in the system's encoding. Made
// before the fork, since the child may not allocate. false when an argument does not convert.
bool ArgumentVector(std::string_view name, const std::vector<std::u16string>& arguments,
                    std::vector<std::string>& strings, std::vector<char*>& argv) {
    strings.assign(1, std::string(name));
    for (const std::u16string& argument : arguments) {
        std::string native;
        if (!Utf16ToUtf8(argument, native)) return false;
        strings.push_back(std::move(native));
    }
    for (std::string& text : strings) argv.push_back(text.data());
    argv.push_back(nullptr);
    return true;
}

// Waits for the child to end; its wait status.
int WaitForExit(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The status a shell would show: the exit code, or 128 + the signal that ended the program.
uint32_t ExitStatusOf(int status) {
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    return WIFSIGNALED(status) ? 128u + static_cast<uint32_t>(WTERMSIG(status)) : 1u;
}

// Starts the child; the start's own error travels back through a pipe that closes on exec,
// so an empty read means the program runs.
pid_t Spawn(int program, char* const* argv) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) ExecuteInChild(program, report[1], argv);
    ::close(report[1]);
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (child > 0 && got > 0) {
        WaitForExit(child);
        return -1;
    }
    return child;
}

// Messages travel as a 32-bit length in the machine's order (both ends are this program)
// followed by the bytes.
bool SendFramed(int pipe, std::string_view message) {
    const auto length = static_cast<uint32_t>(message.size());
    return WriteFully(pipe, &length, sizeof length) && WriteFully(pipe, message.data(), length);
}

// Reads messages until the child closes its end; false on a message cut short.
bool ReceiveFramed(int pipe, const std::function<void(std::string_view)>& receive) {
    std::string message;
    for (;;) {
        uint32_t length = 0;
        const int64_t got = ReadFully(pipe, &length, sizeof length);
        if (got == 0) return true;
        if (got != sizeof length) return false;
        message.resize(length);
        if (ReadFully(pipe, message.data(), length) != length) return false;
        receive(message);
    }
}

[[noreturn]] void RunChild(int pipe, const std::function<void(const MessageToParent&)>& work) {
    work([pipe](std::string_view message) { return SendFramed(pipe, message); });
    ::_exit(0);
}

}  // namespace

uint32_t GetModuleFileName(char16_t* buffer, uint32_t units) {
    char native[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", native, sizeof native);
    // A result that fills the buffer may have been cut.
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof native)) return 0;
    return ToUtf16Buffer(std::string_view(native, static_cast<size_t>(length)), buffer, units);
}

int StartProgramAndWait(DirectoryHandle folder, const char16_t* name, const FileId& expected,
                        uint32_t* exitStatus, const std::vector<std::u16string>& arguments) {
    std::string native;
    std::vector<std::string> strings;
    std::vector<char*> argv;
    if (!NativePath(name, native) || native.empty() ||
        !ArgumentVector(native, arguments, strings, argv)) {
        return 0;
    }
    Descriptor program(OpenExpectedProgram(folder, native, expected));
    if (program.get() < 0 || !MakeOwnerExecutable(program.get())) return 0;
    const pid_t child = Spawn(program.get(), argv.data());
    if (child < 0) return 0;
    const int status = WaitForExit(child);
    if (exitStatus != nullptr) *exitStatus = ExitStatusOf(status);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return 1;
}

bool RunInChildProcess(const std::function<void(const MessageToParent& send)>& work,
                       const std::function<void(std::string_view message)>& receive,
                       bool& started) {
    int channel[2];
    started = false;
    if (::pipe2(channel, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        RunChild(channel[1], work);
    }
    ::close(channel[1]);
    started = child > 0;
    const bool whole = started && ReceiveFramed(channel[0], receive);
    ::close(channel[0]);
    if (!started) return false;
    const int status = WaitForExit(child);
    return whole && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void IgnoreFileSizeLimitSignal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

// The dynamic loader never looks in the program's folder unless told to (an RPATH of $ORIGIN,
// which no program here has).
void RestrictLibrarySearch() {}

}  // namespace winqor
