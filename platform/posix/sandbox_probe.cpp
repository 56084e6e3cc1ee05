#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <thread>

#include "platform/sandbox_probe.h"

#include "platform/posix/support.h"

extern char** environ;

namespace winqor {

using namespace posix;
namespace {

// -1 with errno set when refused.
int Opened(int fd) {
    if (fd < 0) return -1;
    ::close(fd);
    return 0;
}

int Fork() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    if (child > 0) ::waitpid(child, nullptr, 0);
    return child < 0 ? -1 : 0;
}

int Execute() {
    char name[] = "true";
    char* const argv[] = {name, nullptr};
    return ::execve("/bin/true", argv, environ);
}

// A new file of this process's own, beneath the current folder: its mode may change.
int ChangeOwnFileMode() {
    Descriptor file(::open("sandbox-probe.tmp", O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    if (file.get() < 0) return -1;
    const int changed = ::fchmod(file.get(), 0644);
    const int error = errno;
    ::unlink("sandbox-probe.tmp");
    errno = error;
    return changed;
}

int StartThread() {
    std::thread thread([] {});
    thread.join();
    return 0;
}

}  // namespace

std::string TryCallForTests(const std::string& call, const std::string& outside) {
    const char* path = outside.c_str();
    const std::map<std::string, std::function<int()>> calls = {
        {"read", [&] { return Opened(::open(path, O_RDONLY | O_CLOEXEC)); }},
        {"write", [&] { return Opened(::open(path, O_WRONLY | O_CLOEXEC)); }},
        {"chmod", [&] { return ::chmod(path, 04777); }},
        {"fchmodat", [&] { return ::fchmodat(AT_FDCWD, path, 04777, 0); }},
        {"chown", [&] { return ::chown(path, ::getuid(), ::getgid()); }},
        {"setxattr", [&] { return ::setxattr(path, "user.probe", "x", 1, 0); }},
        {"tiocsti", [] { return ::ioctl(0, TIOCSTI, "x"); }},
        {"execve", [] { return Execute(); }},
        {"ptrace", [] { return static_cast<int>(::ptrace(PTRACE_PEEKUSER, ::getppid(), 0, 0)); }},
        {"fork", [] { return Fork(); }},
        {"clone3", [] { return static_cast<int>(::syscall(SYS_clone3, nullptr, 0)); }},
        {"socket", [] { return Opened(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)); }},
        {"kill", [] { return ::kill(::getppid(), 0); }},
        {"mount", [] { return ::mount("none", ".", "tmpfs", 0, nullptr); }},
        {"unshare", [] { return ::unshare(CLONE_NEWUSER); }},
        {"thread", [] { return StartThread(); }},
        {"fchmod", [] { return ChangeOwnFileMode(); }},
        // What a confined walk must not do outside its folder, besides writing a file.
        {"mkdir", [&] { return ::mkdir(path, 0755); }},
        {"symlink", [&] { return ::symlink(".", path); }},
        {"link", [&] { return ::link(path, (outside + ".link").c_str()); }},
        {"mkfifo", [&] { return ::mkfifo(path, 0600); }},
        {"unlink", [&] { return ::unlink(path); }},
        {"rmdir", [&] { return ::rmdir(path); }},
        {"rename", [&] { return ::rename(path, (outside + ".moved").c_str()); }},
        {"truncate", [&] { return ::truncate(path, 0); }},
    };
    const auto found = calls.find(call);
    if (found == calls.end()) return "unknown call";
    errno = 0;
    return found->second() < 0 ? SystemReason(errno) : "done";
}

}  // namespace winqor
