#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
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

#include "platform/posix/coverage_counts.h"
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
    WriteCounts();
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

// What a child wrote through its report pipe before it ran its program: its exec's error, or 0
// when the pipe closed on exec with nothing in it. Closes the pipe.
int ReadStartError(int report) {
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report);
    return got > 0 ? (error != 0 ? error : EIO) : 0;
}

// Starts the child; the start's own error travels back through a pipe that closes on exec,
// so an empty read means the program runs.
pid_t Spawn(int program, char* const* argv) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ForgetInheritedCounts();
        ExecuteInChild(program, report[1], argv);
    }
    ::close(report[1]);
    const int error = ReadStartError(report[0]);
    if (child > 0 && error != 0) {
        WaitForExit(child);
        return -1;
    }
    return child;
}

std::string Framed(std::string_view message) {
    return FrameMessage(message);
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

// The sandboxed child's private start: its argument vector, and the descriptors it holds.
constexpr char kChildMarker[] = "winqor (sandboxed extraction)";
constexpr int kChildArgumentCount = 5;
constexpr int kChildChannel = 3;
constexpr int kChildRoot = 4;
constexpr char kChildChannelText[] = "3";
constexpr char kChildRootText[] = "4";
// Held until the exec: the program's file, and the pipe that tells the parent why it failed.
constexpr int kChildProgram = 5;
constexpr int kChildStartReport = 6;
constexpr char kChildProgramPath[] = "/proc/self/fd/5";
// Where the descriptors wait while they are put in their places.
constexpr int kAboveChildDescriptors = 100;

// The running program's file, held since start-up.
int& OwnProgram() {
    static int program = -1;
    return program;
}

bool IsKind(int fd, mode_t kind) {
    struct stat info;
    return ::fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

// Reads exactly count bytes; false at an early end or an error.
bool ReadWhole(int fd, void* buffer, uint64_t count) {
    return ReadFully(fd, buffer, count) == static_cast<int64_t>(count);
}

struct ChildDescriptors {
    int channel;
    int root;    // -1: none
    int errors;  // the pipe that becomes its standard error
};

// The flags as the child's argument vector carries them: 8 hexadecimal digits.
constexpr size_t kFlagDigits = 8;
void FormatFlags(uint32_t flags, char (&text)[kFlagDigits + 1]) {
    for (size_t i = 0; i < kFlagDigits; ++i) {
        text[i] = "0123456789abcdef"[(flags >> (4 * (kFlagDigits - 1 - i))) & 0xF];
    }
    text[kFlagDigits] = 0;
}

bool ParseFlags(const char* text, uint32_t& flags) {
    if (std::strlen(text) != kFlagDigits) return false;
    flags = 0;
    for (size_t i = 0; i < kFlagDigits; ++i) {
        const char* digit = std::strchr("0123456789abcdef", text[i]);
        if (text[i] == 0 || digit == nullptr) return false;
        flags = (flags << 4) | static_cast<uint32_t>(digit - "0123456789abcdef");
    }
    return true;
}

// In the forked child, before the exec: only calls that are safe after a fork of a threaded
// process. Every descriptor goes to its place (/dev/null as standard input and output and the
// parent's pipe as standard error: a terminal there could be given input, or its settings
// changed); every other one is closed.
bool PlaceChildDescriptors(const ChildDescriptors& given, int report) {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const int sources[] = {null, given.channel, given.root, OwnProgram(), report, given.errors};
    int moved[6];
    for (int i = 0; i < 6; ++i) {
        moved[i] =
            sources[i] < 0 ? -1 : ::fcntl(sources[i], F_DUPFD_CLOEXEC, kAboveChildDescriptors);
        if (sources[i] >= 0 && moved[i] < 0) return false;
    }
    if (null < 0) return false;
    const int places[] = {-1,           kChildChannel, kChildRoot, kChildProgram, kChildStartReport,
                          STDERR_FILENO};
    for (int fd = 0; fd <= 1; ++fd) {
        if (::dup2(moved[0], fd) < 0) return false;
    }
    for (int i = 1; i < 6; ++i) {
        if (moved[i] >= 0 && ::dup2(moved[i], places[i]) < 0) return false;
    }
    if (given.root < 0) ::close(kChildRoot);
    CloseRange(kChildStartReport + 1, ~0u);
    return ::fcntl(kChildProgram, F_SETFD, FD_CLOEXEC) == 0 &&
           ::fcntl(kChildStartReport, F_SETFD, FD_CLOEXEC) == 0;
}

[[noreturn]] void ExecuteChildProgram(const ChildDescriptors& given, int report, pid_t parent,
                                      char* const* argv) {
    // The child never outlives this process (not even one killed before it could wait).
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent ||
        !PlaceChildDescriptors(given, report)) {
        WriteCounts();
        ::_exit(127);
    }
    WriteCounts();
    // The file behind the descriptor, whatever stands at the program's path now. Through
    // /proc first, as fexecve does: execveat stays the call that starts Setup.exe alone, and
    // tools that run the program (valgrind) know this way; execveat where /proc is missing.
    ::execve(kChildProgramPath, argv, environ);
    if (errno == ENOENT) ::execveat(kChildProgram, "", argv, environ, AT_EMPTY_PATH);
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(kChildStartReport, &error, sizeof error);
    ::_exit(127);
}

// Forks and executes the program's own file in the child's mode; its pid, or -1 with why.
pid_t StartChildProgram(const ChildDescriptors& given, const ChildStart& start, std::string& why) {
    // Made before the fork: the forked copy of a threaded process may not allocate.
    char flags[kFlagDigits + 1];
    FormatFlags(start.flags, flags);
    const char* const argv[] = {kChildMarker,
                                kChildChannelText,
                                given.root >= 0 ? kChildRootText : "-",
                                start.debug ? "debug" : "quiet",
                                flags,
                                nullptr};
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        why = SystemReason(errno);
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ForgetInheritedCounts();
        ExecuteChildProgram(given, report[1], parent, const_cast<char* const*>(argv));
    }
    const int forkError = errno;
    ::close(report[1]);
    const int error = ReadStartError(report[0]);
    if (child < 0 || error != 0) {
        why = SystemReason(child < 0 ? forkError : error);
        if (child > 0) WaitForExit(child);
        return -1;
    }
    return child;
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

// The child's two descriptors as the parent uses them: the channel both ways, the standard
// error it reads.
struct ChildPipes {
    int channel;
    int errors;
};

// Sends what the child has still to read, as far as the channel takes it now; once the child
// has closed its end, nothing more.
void SendAvailable(int channel, std::string_view& pending) {
    while (!pending.empty()) {
        const ssize_t sent =
            ::send(channel, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            pending.remove_prefix(static_cast<size_t>(sent));
        } else if (sent < 0 && errno == EAGAIN) {
            return;
        } else if (sent == 0 || errno != EINTR) {
            pending = {};
        }
    }
}

// Hands the child its input as it reads it and takes its messages until it exits (not until
// the channel closes: anything it left behind might hold that open), killing it past the
// limits; passes its standard error on.
ChildEnd WatchChild(pid_t child, const ChildPipes& pipes, std::string_view input,
                    const MessageFromChild& receive, const ChildLimits& limits, std::string& why) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(limits.maxSeconds);
    Descriptor exits(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
    FrameReader reader(limits.maxMessageBytes);
    ErrorForwarder errors;
    bool open = true, errorsOpen = true;
    for (int status = 0;;) {
        SendAvailable(pipes.channel, input);
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
        const short events =
            static_cast<short>((open ? POLLIN : 0) | (input.empty() ? 0 : POLLOUT));
        struct pollfd watched[3] = {{events != 0 ? pipes.channel : -1, events, 0},
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

void HoldOwnProgramFile() {
    int& program = OwnProgram();
    if (program < 0) program = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
}

ChildEnd RunChildProgram(const ChildStart& start, const MessageFromChild& receive,
                         const ChildLimits& limits, std::string& reason) {
    HoldOwnProgramFile();
    int channel[2], errors[2];
    if (OwnProgram() < 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
        reason = "cannot start the sandboxed process: " + SystemReason(errno);
        return ChildEnd::kNotStarted;
    }
    Descriptor ours(channel[0]), theirs(channel[1]);
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        reason = "cannot start the sandboxed process: " + SystemReason(errno);
        return ChildEnd::kNotStarted;
    }
    Descriptor errorReading(errors[0]), errorWriting(errors[1]);
    // What the child reads, handed over as it reads: the request, then the bytes. (Not a file:
    // the run's file-size limit would hold for it.)
    const std::string input =
        Framed(start.request) + Framed(std::string_view(reinterpret_cast<const char*>(start.bytes),
                                                        static_cast<size_t>(start.byteCount)));
    std::string why;
    const pid_t child = StartChildProgram(
        {theirs.get(), static_cast<int>(start.root), errorWriting.get()}, start, why);
    theirs.Reset(-1);
    errorWriting.Reset(-1);
    if (child < 0) {
        reason = "cannot start the sandboxed process: " + why;
        return ChildEnd::kNotStarted;
    }
    ::fcntl(ours.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(errorReading.get(), F_SETFL, O_NONBLOCK);
    if (start.started) start.started(child);
    return WatchChild(child, {ours.get(), errorReading.get()}, input, receive, limits, reason);
}

bool IsSandboxedChildStart(int argc, const char* const* argv, ChildChannel& channel) {
    if (argc != kChildArgumentCount || std::strcmp(argv[0], kChildMarker) != 0 ||
        std::strcmp(argv[1], kChildChannelText) != 0) {
        return false;
    }
    const bool hasRoot = std::strcmp(argv[2], kChildRootText) == 0;
    const bool debug = std::strcmp(argv[3], "debug") == 0;
    uint32_t flags = 0;
    if ((!hasRoot && std::strcmp(argv[2], "-") != 0) ||
        (!debug && std::strcmp(argv[3], "quiet") != 0) || !ParseFlags(argv[4], flags) ||
        !IsKind(kChildChannel, S_IFSOCK) || (hasRoot && !IsKind(kChildRoot, S_IFDIR))) {
        return false;
    }
    channel = {kChildChannel, hasRoot ? kChildRoot : kInvalidDirectory, debug, flags};
    return true;
}

void EndChildProcess(int status) {
    WriteCounts();
    ::_exit(status);
}

bool SendToParent(FileHandle channel, std::string_view message) {
    return SendFramed(static_cast<int>(channel), message);
}

bool ReceiveFromParent(FileHandle channel, uint32_t maxBytes, std::string& message) {
    uint32_t length = 0;
    if (!ReadWhole(static_cast<int>(channel), &length, sizeof length) || length > maxBytes) {
        return false;
    }
    message.resize(length);
    return ReadWhole(static_cast<int>(channel), message.data(), length);
}

void IgnoreFileSizeLimitSignal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

// The dynamic loader never looks in the program's folder unless told to (an RPATH of $ORIGIN,
// which no program here has).
void RestrictLibrarySearch() {}

}  // namespace winqor
