#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/limits.h"
#include "base/message_frames.h"
#include "base/text.h"
#include "platform/process.h"

extern char** environ;

#include "platform/posix/support.h"

namespace winqor {

using namespace posix;
namespace {

// The program this run wrote, opened without following a link (O_NONBLOCK: a pipe put there
// must not make the open wait), still the running user's and writable by nobody else (so that
// nobody can have rewritten it since). -1 when it is anything else.
int OpenExpectedProgram(int folder, const std::string& name, const FileId& expected) {
    Descriptor program(
        OpenAtRetrying(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (program.get() < 0 || ::fstat(program.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return -1;
    }
    const FileId id = IdentityOf(info);
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

bool SendFramed(int pipe, std::string_view message) {
    const std::string frame = FrameMessage(message);
    return WriteFully(pipe, frame.data(), frame.size());
}

void CloseRange(unsigned first, unsigned last) {
    if (first > last) return;
    if (::syscall(SYS_close_range, first, last, 0) == 0) return;
    const long open = ::sysconf(_SC_OPEN_MAX);
    const unsigned end = open > 0 && static_cast<unsigned long>(open) <= last
                             ? static_cast<unsigned>(open) - 1
                             : last;
    for (unsigned fd = first; fd <= end; ++fd) ::close(static_cast<int>(fd));
}

// In the child: /dev/null as standard input and output and the parent's pipe as standard error
// (a terminal there could be given input, or its settings changed), and no descriptor but
// these, the channel and keep.
bool KeepOnly(int& channel, int keep, int errors) {
    if (channel < 3) channel = ::fcntl(channel, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (channel < 0 || null < 0 || keep == STDERR_FILENO) return false;
    for (int fd = 0; fd <= 1; ++fd) {
        if (fd != keep && ::dup2(null, fd) < 0) return false;
    }
    if (errors != STDERR_FILENO && ::dup2(errors, STDERR_FILENO) < 0) return false;
    const int low = std::min(channel, keep), high = std::max(channel, keep);
    unsigned next = 3;
    for (const int fd : {low, high}) {
        if (fd < static_cast<int>(next)) continue;
        CloseRange(next, static_cast<unsigned>(fd) - 1);
        next = static_cast<unsigned>(fd) + 1;
    }
    CloseRange(next, ~0u);
    return true;
}

[[noreturn]] void RunChild(int pipe, int errors, DirectoryHandle keep,
                           const std::function<void(const MessageToParent&)>& work) {
    if (!KeepOnly(pipe, static_cast<int>(keep), errors)) ::_exit(1);
    work([pipe](std::string_view message) { return SendFramed(pipe, message); });
    ::_exit(0);
}

bool HasExited(pid_t child, int& status) {
    pid_t got;
    while ((got = ::waitpid(child, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    return got == child;
}

ChildEnd Kill(pid_t child, std::string& why, const std::string& reason) {
    ::kill(child, SIGKILL);
    WaitForExit(child);
    why = "the sandboxed process was killed: " + reason;
    return ChildEnd::kFailed;
}

ChildEnd EndOf(int status, bool whole, std::string& why) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && whole) return ChildEnd::kEnded;
    if (WIFSIGNALED(status)) {
        why = "the sandboxed process ended with signal " + std::to_string(WTERMSIG(status));
    } else {
        why = "the sandboxed process ended with status " + std::to_string(ExitStatusOf(status));
    }
    if (!whole) why += ", its last message cut short";
    return ChildEnd::kFailed;
}

constexpr size_t kChannelReadBytes = 64 * 1024;
// The library's progress lines for a whole stream take a few kilobytes.
constexpr size_t kMaxErrorBytes = 1024 * 1024;
constexpr size_t kMaxErrorLineBytes = 4096;

// The child's standard error, passed on to this process's line by line, each line escaped so
// that a taken-over child can neither forge a line of ours nor send the terminal a command.
class ErrorForwarder {
  public:
    // false when the child has written more than it may.
    bool Take(const char* bytes, size_t count) {
        taken_ += count;
        if (taken_ > kMaxErrorBytes) return false;
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] == '\n' || line_.size() >= kMaxErrorLineBytes) Flush();
            if (bytes[i] != '\n') line_.push_back(bytes[i]);
        }
        return true;
    }
    // Passes on the last line, when it has no line feed.
    void Flush() {
        const std::string shown = EscapeForDisplay(line_) + "\n";
        [[maybe_unused]] const bool written = WriteFully(STDERR_FILENO, shown.data(), shown.size());
        line_.clear();
    }
    void Finish() {
        if (!line_.empty()) Flush();
    }

  private:
    std::string line_;
    size_t taken_ = 0;
};

// Passes on what the child's standard error holds now; false when the child wrote too much.
bool ForwardErrors(int errors, ErrorForwarder& forwarder, bool& open) {
    char bytes[kChannelReadBytes];
    while (open) {
        const ssize_t got = ::read(errors, bytes, sizeof bytes);
        if (got > 0) {
            if (!forwarder.Take(bytes, static_cast<size_t>(got))) return false;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        open = got < 0 && errno == EAGAIN;
        break;
    }
    return true;
}

// Reads what the channel holds now; false when it is closed or failed (the child may live on).
enum class Read { kMore, kClosed, kRefused };
Read ReadAvailable(int channel, FrameReader& reader, const MessageFromChild& receive,
                   std::string& why) {
    char bytes[kChannelReadBytes];
    for (;;) {
        const ssize_t got = ::read(channel, bytes, sizeof bytes);
        if (got > 0) {
            if (!reader.Take(bytes, static_cast<size_t>(got), receive, why)) return Read::kRefused;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && errno == EAGAIN ? Read::kMore : Read::kClosed;
    }
}

// The child's two pipes as the parent reads them.
struct ChildPipes {
    int channel;
    int errors;
};

// Takes the child's messages until it exits (not until the channel closes: anything it left
// behind might hold that open), killing it past the limits; passes its standard error on.
ChildEnd WatchChild(pid_t child, const ChildPipes& pipes, const MessageFromChild& receive,
                    const ChildLimits& limits, std::string& why) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(limits.maxSeconds);
    Descriptor exits(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
    FrameReader reader(limits.maxMessageBytes);
    ErrorForwarder errors;
    bool open = true, errorsOpen = true;
    for (int status = 0;;) {
        const Read read = open ? ReadAvailable(pipes.channel, reader, receive, why) : Read::kClosed;
        if (read == Read::kRefused) return Kill(child, why, why);
        if (!ForwardErrors(pipes.errors, errors, errorsOpen)) {
            return Kill(child, why,
                        "it wrote more than " + std::to_string(kMaxErrorBytes) +
                            " bytes to its standard error");
        }
        open = read == Read::kMore;
        if (HasExited(child, status)) {
            ForwardErrors(pipes.errors, errors, errorsOpen);
            errors.Finish();
            if (open && ReadAvailable(pipes.channel, reader, receive, why) == Read::kRefused) {
                return EndOf(status, false, why);
            }
            return EndOf(status, reader.Whole(), why);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return Kill(child, why,
                        "it ran longer than " + std::to_string(limits.maxSeconds) + " seconds");
        }
        // Without a process descriptor (kernels before 5.3) the exit is looked for every 100 ms.
        const long long slice = exits.get() < 0 ? 100 : left.count();
        struct pollfd watched[3] = {{open ? pipes.channel : -1, POLLIN, 0},
                                    {errorsOpen ? pipes.errors : -1, POLLIN, 0},
                                    {exits.get(), POLLIN, 0}};
        ::poll(watched, 3, static_cast<int>(std::min<long long>({slice, left.count(), INT_MAX})));
    }
}

}  // namespace

uint32_t GetModuleFileName(char16_t* buffer, uint32_t units) {
    char native[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", native, sizeof native);
    // A result that fills the buffer may have been cut.
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof native)) return 0;
    return Utf8ToUtf16Buffer(std::string_view(native, static_cast<size_t>(length)), buffer, units);
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
    std::this_thread::sleep_for(kPauseAfterProgram);
    return 1;
}

ChildEnd RunInChildProcess(const std::function<void(const MessageToParent& send)>& work,
                           const MessageFromChild& receive, DirectoryHandle keep,
                           const ChildLimits& limits, std::string& reason) {
    int channel[2], errors[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        reason = "cannot start the sandboxed process: " + SystemReason(errno);
        return ChildEnd::kNotStarted;
    }
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        reason = "cannot start the sandboxed process: " + SystemReason(errno);
        ::close(channel[0]);
        ::close(channel[1]);
        return ChildEnd::kNotStarted;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // The child never outlives this process (not even one killed before it could wait).
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(1);
        ::close(channel[0]);
        ::close(errors[0]);
        RunChild(channel[1], errors[1], keep, work);
    }
    const int error = errno;
    ::close(channel[1]);
    ::close(errors[1]);
    Descriptor reading(channel[0]), errorReading(errors[0]);
    if (child < 0) {
        reason = "cannot start the sandboxed process: " + SystemReason(error);
        return ChildEnd::kNotStarted;
    }
    ::fcntl(reading.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(errorReading.get(), F_SETFL, O_NONBLOCK);
    return WatchChild(child, {reading.get(), errorReading.get()}, receive, limits, reason);
}

void IgnoreFileSizeLimitSignal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

// The dynamic loader never looks in the program's folder unless told to (an RPATH of $ORIGIN,
// which no program here has).
void RestrictLibrarySearch() {}

}  // namespace winqor
