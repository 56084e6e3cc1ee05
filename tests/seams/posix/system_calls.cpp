#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <mqueue.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/klog.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <sys/fanotify.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "seams/system_calls.h"

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
    ::unlinkat(AT_FDCWD, "sandbox-probe.tmp", 0);
    errno = error;
    return changed;
}

int StartThread() {
    std::thread thread([] {});
    thread.join();
    return 0;
}

// Entries a probe makes beneath the current folder (the root, where there is one) are removed
// again whatever happens, so that only what the probe failed to prevent is left to see.
constexpr char kProbeEntry[] = "sandbox-probe.entry";

int Kept(int result) {
    const int error = errno;
    ::unlinkat(AT_FDCWD, kProbeEntry, 0);
    ::unlinkat(AT_FDCWD, kProbeEntry, AT_REMOVEDIR);
    errno = error;
    return result;
}

int MakeNode(mode_t type, dev_t device) {
    return Kept(::mknodat(AT_FDCWD, kProbeEntry, type | 0600, device));
}

// A new file of its own given a mode: the refusal must come from the mode alone.
int GiveOwnFileMode(mode_t mode) {
    Descriptor file(::open(kProbeEntry, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    if (file.get() < 0) return -1;
    return Kept(::fchmod(file.get(), mode));
}

int CreateWithMode(mode_t mode) {
    return Kept(Opened(::open(kProbeEntry, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode)));
}

// The folder it writes in, given the sticky bit and everyone's write.
int OpenFolderToAll() {
    Descriptor folder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.get() < 0 ? -1 : ::fchmod(folder.get(), 01777);
}

int IoctlOnFolder(unsigned long request, void* argument) {
    Descriptor folder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.get() < 0 ? -1 : ::ioctl(folder.get(), request, argument);
}

// A file of its own, made larger than any record can be in the way named.
int GrowOwnFile(const std::function<int(int)>& grow) {
    Descriptor file(::open(kProbeEntry, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
    if (file.get() < 0) return -1;
    return Kept(grow(file.get()));
}

constexpr off_t kFourGiB = off_t{4} << 30;

int WriteAtFourGiB(int fd) {
    return ::pwrite(fd, "x", 1, kFourGiB) == 1 ? 0 : -1;
}

// 1.5 GiB of memory, every page touched.
int TouchMemory() {
    constexpr size_t kBytes = size_t{3} << 29;
    void* memory =
        ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return -1;
    std::memset(memory, 1, kBytes);
    ::munmap(memory, kBytes);
    return 0;
}

// Descriptors beyond the few it needs.
int OpenMany() {
    std::vector<int> opened;
    int result = 0;
    while (result == 0 && opened.size() < 256) {
        opened.push_back(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
        if (opened.back() < 0) result = -1;
    }
    const int error = errno;
    for (const int fd : opened) ::close(fd);
    errno = error;
    return result;
}

// Raising its own limit back, as a taken-over child would try first.
int RaiseLimit(int resource) {
    struct rlimit limit;
    if (::getrlimit(resource, &limit) != 0) return -1;
    limit.rlim_max = limit.rlim_cur = RLIM_INFINITY;
    return ::setrlimit(resource, &limit);
}

int RealTimePriority() {
    struct sched_param priority = {};
    priority.sched_priority = 1;
    return ::sched_setscheduler(0, SCHED_FIFO, &priority);
}

int PosixQueue() {
    const mqd_t queue = ::mq_open("/winqor-probe", O_CREAT | O_RDWR, 0600, nullptr);
    if (queue == static_cast<mqd_t>(-1)) return -1;
    ::mq_close(queue);
    ::mq_unlink("/winqor-probe");
    return 0;
}

template <typename Make, typename Remove>
int SystemVObject(Make make, Remove remove) {
    const int id = make();
    if (id < 0) return -1;
    remove(id);
    return 0;
}

// What the child holds of root's power, as a line: "none" once every set is empty.
std::string HeldCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[2] = {};
    if (::syscall(SYS_capget, &header, sets) != 0) return "unreadable: " + SystemReason(errno);
    std::string held;
    const auto note = [&held](const char* set, bool any) {
        if (any) held += std::string(held.empty() ? "" : ", ") + set;
    };
    note("effective", sets[0].effective != 0 || sets[1].effective != 0);
    note("permitted", sets[0].permitted != 0 || sets[1].permitted != 0);
    note("inheritable", sets[0].inheritable != 0 || sets[1].inheritable != 0);
    bool bounding = false;
    for (int capability = 0; capability <= CAP_LAST_CAP; ++capability)
        bounding = bounding || ::prctl(PR_CAPBSET_READ, capability, 0, 0, 0) == 1;
    note("bounding", bounding);
    note("dumpable", ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0);
    return held.empty() ? "none" : held;
}

}  // namespace

std::string TryCall(const std::string& call, const std::string& outside) {
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
        // Root's power: device nodes, set-id and sticky bits, attributes, the terminal, the
        // kernel's log and state, real-time priority, modules.
        {"mknod-block", [] { return MakeNode(S_IFBLK, makedev(8, 0)); }},
        {"mknod-char", [] { return MakeNode(S_IFCHR, makedev(1, 3)); }},
        {"mkfifo-inside", [] { return MakeNode(S_IFIFO, 0); }},
        {"setuid", [] { return GiveOwnFileMode(06755); }},
        {"create-setuid", [] { return CreateWithMode(04755); }},
        {"sticky-folder", [] { return Kept(::mkdir(kProbeEntry, 01777)); }},
        {"folder-to-all", [] { return OpenFolderToAll(); }},
        {"immutable",
         [] {
             int flags = FS_IMMUTABLE_FL;
             return IoctlOnFolder(FS_IOC_SETFLAGS, &flags);
         }},
        {"fifreeze", [] { return IoctlOnFolder(FIFREEZE, nullptr); }},
        {"vhangup", [] { return ::vhangup(); }},
        {"syslog",
         [] {
             char line[64];
             return ::klogctl(3, line, sizeof line);
         }},
        {"acct", [] { return ::acct(nullptr); }},
        {"realtime", [] { return RealTimePriority(); }},
        {"module", [] { return static_cast<int>(::syscall(SYS_finit_module, 0, "", 0)); }},
        {"sethostname", [] { return ::sethostname("probe", 5); }},
        {"umask", [] { return static_cast<int>(::syscall(SYS_umask, 0)) < 0 ? -1 : 0; }},
        // Other processes and the system's shared objects.
        {"shm",
         [] {
             return SystemVObject([] { return ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600); },
                                  [](int id) { ::shmctl(id, IPC_RMID, nullptr); });
         }},
        {"msgqueue",
         [] {
             return SystemVObject([] { return ::msgget(IPC_PRIVATE, IPC_CREAT | 0600); },
                                  [](int id) { ::msgctl(id, IPC_RMID, nullptr); });
         }},
        {"semaphore",
         [] {
             return SystemVObject([] { return ::semget(IPC_PRIVATE, 1, IPC_CREAT | 0600); },
                                  [](int id) { ::semctl(id, 0, IPC_RMID); });
         }},
        {"mq_open", [] { return PosixQueue(); }},
        {"parent-limit",
         [] {
             const struct rlimit none { 0, 0 };
             return ::prlimit(::getppid(), RLIMIT_NOFILE, &none, nullptr);
         }},
        {"parent-priority", [] { return ::setpriority(PRIO_PROCESS, ::getppid(), 19); }},
        {"parent-affinity",
         [] {
             cpu_set_t one;
             CPU_ZERO(&one);
             CPU_SET(0, &one);
             return ::sched_setaffinity(::getppid(), sizeof one, &one);
         }},
        {"parent-ioprio",
         [] { return static_cast<int>(::syscall(SYS_ioprio_set, 1, ::getppid(), 7)); }},
        {"utimensat-path", [&] { return ::utimensat(AT_FDCWD, path, nullptr, 0); }},
        {"inotify", [] { return Opened(::inotify_init1(IN_CLOEXEC)); }},
        {"fanotify", [] { return Opened(::fanotify_init(FAN_CLASS_NOTIF, O_RDONLY)); }},
        // The limits: a file larger than any record, memory, descriptors, raising a limit.
        {"fallocate",
         [] { return GrowOwnFile([](int fd) { return ::fallocate(fd, 0, 0, kFourGiB); }); }},
        {"ftruncate", [] { return GrowOwnFile([](int fd) { return ::ftruncate(fd, kFourGiB); }); }},
        {"write-far", [] { return GrowOwnFile(WriteAtFourGiB); }},
        {"memory", [] { return TouchMemory(); }},
        {"descriptors", [] { return OpenMany(); }},
        {"raise-limit", [] { return RaiseLimit(RLIMIT_FSIZE); }},
        // What the parent checks: the folder it holds, and the child's standard error.
        {"folder-mode",
         [] {
             Descriptor folder(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
             return folder.get() < 0 ? -1 : ::fchmod(folder.get(), 0700);
         }},
        {"stderr-escape",
         [] {
             static constexpr char kLine[] = "probe \x1b[31mred\n";
             return ::write(STDERR_FILENO, kLine, sizeof kLine - 1) < 0 ? -1 : 0;
         }},
        {"stderr-flood",
         [] {
             const std::string line(64 * 1024, 'x');
             for (int i = 0; i < 32; ++i) {
                 if (::write(STDERR_FILENO, line.data(), line.size()) < 0) return -1;
             }
             return 0;
         }},
        // Another architecture's entry point ends the process.
        {"x32", [] { return static_cast<int>(::syscall(0x40000000 | SYS_getpid)); }},
    };
    if (call == "capabilities") return HeldCapabilities();
    if (call == "core-limit") {
        struct rlimit core;
        return ::getrlimit(RLIMIT_CORE, &core) == 0 ? std::to_string(core.rlim_max) : "unknown";
    }
    const auto found = calls.find(call);
    if (found == calls.end()) return "unknown call";
    errno = 0;
    return found->second() < 0 ? SystemReason(errno) : "done";
}

std::string DescribeProcess(int64_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    struct stat child, self;
    const bool same = ::stat((proc + "/exe").c_str(), &child) == 0 &&
                      ::stat("/proc/self/exe", &self) == 0 && child.st_dev == self.st_dev &&
                      child.st_ino == self.st_ino;
    std::string first;
    if (FILE* cmdline = std::fopen((proc + "/cmdline").c_str(), "r")) {
        for (int c; (c = std::fgetc(cmdline)) != EOF && c != 0;) first += static_cast<char>(c);
        std::fclose(cmdline);
    }
    int threads = 0;
    if (DIR* tasks = ::opendir((proc + "/task").c_str())) {
        while (const dirent* entry = ::readdir(tasks)) threads += entry->d_name[0] != '.';
        ::closedir(tasks);
    }
    return std::string("program: ") + (same ? "the running one" : "another") +
           "; started as: " + first + "; threads: " + std::to_string(threads);
}

}  // namespace winqor
