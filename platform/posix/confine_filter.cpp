// The confined process's system calls, as an allow-list: what the decoder's threads, the memory
// allocator, the output stage, the channel and the exit call, each with the arguments checked
// where the kernel lets a filter see them. The classes no confined process has any business
// with are refused by name (they fail with EPERM, quietly); any other call off the list fails
// with EPERM too, and is named on the standard error, which the parent forwards: a missing
// entry shows at once, and a taken-over process learns nothing it could use. Other
// architectures' entry points (the 32-bit and x32 ones) end the process.
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/posix/confine_parts.h"
#include "platform/posix/coverage_counts.h"
#include "platform/posix/support.h"

namespace winqor::posix {
namespace {

// Calls added to the kernel after the C library's headers; the numbers are the same on every
// architecture since they were unified.
constexpr int kFchmodat2 = 452;
constexpr int kSetxattrat = 463;
constexpr int kRemovexattrat = 466;

constexpr scmp_datum_t kRenameWhiteout = 1u << 2;

// The calls that need no check of their arguments: reading and writing what is open, looking
// at it, walking and changing the tree beneath the folder (Landlock decides where), memory,
// threads and their waits, signals to itself, the time, who it is, and the exit.
// clang-format off
constexpr int kPlainCalls[] = {
    SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(readv), SCMP_SYS(writev), SCMP_SYS(pread64),
    SCMP_SYS(pwrite64), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat),
    SCMP_SYS(statx), SCMP_SYS(getdents64), SCMP_SYS(fchdir), SCMP_SYS(ftruncate),
    SCMP_SYS(fsync), SCMP_SYS(fdatasync), SCMP_SYS(unlinkat), SCMP_SYS(renameat),
    SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(mprotect), SCMP_SYS(munmap), SCMP_SYS(mremap),
    SCMP_SYS(madvise), SCMP_SYS(futex),
    SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
    SCMP_SYS(sched_getaffinity), SCMP_SYS(gettid),
    SCMP_SYS(getpid), SCMP_SYS(getppid), SCMP_SYS(set_tid_address), SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigtimedwait),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall), SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres),
    SCMP_SYS(gettimeofday), SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep), SCMP_SYS(getuid),
    SCMP_SYS(geteuid), SCMP_SYS(getgid), SCMP_SYS(getegid), SCMP_SYS(getgroups),
    SCMP_SYS(capget), SCMP_SYS(exit), SCMP_SYS(exit_group)};

// What no confined process may do, refused by name. Many are also out of reach for want of a
// capability; the list does not rely on it.
constexpr int kRefusedCalls[] = {
    // modes, owners and attributes by path, links, device nodes, FIFOs, the umask
    SCMP_SYS(chmod), SCMP_SYS(fchmodat), SCMP_SYS(chown), SCMP_SYS(fchown), SCMP_SYS(lchown),
    SCMP_SYS(fchownat), SCMP_SYS(setxattr), SCMP_SYS(lsetxattr), SCMP_SYS(fsetxattr),
    SCMP_SYS(removexattr), SCMP_SYS(lremovexattr), SCMP_SYS(fremovexattr), SCMP_SYS(symlink),
    SCMP_SYS(symlinkat), SCMP_SYS(link), SCMP_SYS(linkat), SCMP_SYS(mknod), SCMP_SYS(mknodat),
    SCMP_SYS(umask), SCMP_SYS(utime), SCMP_SYS(utimes), SCMP_SYS(futimesat), SCMP_SYS(creat),
    SCMP_SYS(open), SCMP_SYS(openat2), SCMP_SYS(truncate), SCMP_SYS(fallocate),
    SCMP_SYS(unlink), SCMP_SYS(rmdir), SCMP_SYS(rename), SCMP_SYS(name_to_handle_at),
    SCMP_SYS(open_by_handle_at), kFchmodat2, kSetxattrat, kRemovexattrat,
    // programs, processes, other processes and this one's privileges and scheduling
    SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(fork), SCMP_SYS(vfork), SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(kcmp),
    SCMP_SYS(pidfd_open), SCMP_SYS(pidfd_send_signal), SCMP_SYS(pidfd_getfd), SCMP_SYS(tkill),
    SCMP_SYS(seccomp), SCMP_SYS(capset), SCMP_SYS(setuid), SCMP_SYS(setgid),
    SCMP_SYS(setreuid), SCMP_SYS(setregid), SCMP_SYS(setresuid), SCMP_SYS(setresgid),
    SCMP_SYS(setfsuid), SCMP_SYS(setfsgid), SCMP_SYS(setgroups), SCMP_SYS(setrlimit),
    SCMP_SYS(setpriority), SCMP_SYS(sched_setscheduler), SCMP_SYS(sched_setparam),
    SCMP_SYS(sched_setattr), SCMP_SYS(sched_setaffinity), SCMP_SYS(ioprio_set),
    SCMP_SYS(personality), SCMP_SYS(process_madvise), SCMP_SYS(mlock), SCMP_SYS(mlock2),
    SCMP_SYS(mlockall), SCMP_SYS(mbind), SCMP_SYS(set_mempolicy), SCMP_SYS(migrate_pages),
    SCMP_SYS(move_pages),
    // inter-process communication, sockets and watching files
    SCMP_SYS(shmget), SCMP_SYS(shmat), SCMP_SYS(shmdt), SCMP_SYS(shmctl), SCMP_SYS(semget),
    SCMP_SYS(semop), SCMP_SYS(semtimedop), SCMP_SYS(semctl), SCMP_SYS(msgget),
    SCMP_SYS(msgsnd), SCMP_SYS(msgrcv), SCMP_SYS(msgctl), SCMP_SYS(mq_open),
    SCMP_SYS(mq_unlink), SCMP_SYS(mq_timedsend), SCMP_SYS(mq_timedreceive),
    SCMP_SYS(mq_notify), SCMP_SYS(mq_getsetattr), SCMP_SYS(inotify_init),
    SCMP_SYS(inotify_init1), SCMP_SYS(inotify_add_watch), SCMP_SYS(inotify_rm_watch),
    SCMP_SYS(fanotify_init), SCMP_SYS(fanotify_mark), SCMP_SYS(memfd_create),
    SCMP_SYS(userfaultfd), SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter),
    SCMP_SYS(io_uring_register), SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(ioctl),
    // the kernel's and the machine's global state
    SCMP_SYS(vhangup), SCMP_SYS(syslog), SCMP_SYS(acct), SCMP_SYS(swapon), SCMP_SYS(swapoff),
    SCMP_SYS(sethostname), SCMP_SYS(setdomainname), SCMP_SYS(settimeofday),
    SCMP_SYS(clock_settime), SCMP_SYS(clock_adjtime), SCMP_SYS(adjtimex), SCMP_SYS(reboot),
    SCMP_SYS(kexec_load), SCMP_SYS(kexec_file_load), SCMP_SYS(init_module),
    SCMP_SYS(finit_module), SCMP_SYS(delete_module), SCMP_SYS(iopl), SCMP_SYS(ioperm),
    SCMP_SYS(quotactl), SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root),
    SCMP_SYS(chroot), SCMP_SYS(move_mount), SCMP_SYS(open_tree), SCMP_SYS(fsopen),
    SCMP_SYS(fsmount), SCMP_SYS(fsconfig), SCMP_SYS(fspick), SCMP_SYS(mount_setattr),
    SCMP_SYS(unshare), SCMP_SYS(setns), SCMP_SYS(bpf), SCMP_SYS(perf_event_open),
    SCMP_SYS(keyctl), SCMP_SYS(add_key), SCMP_SYS(request_key)};
// clang-format on

// prctl only to read what the process is: its bounding set, whether it may dump, its secure
// bits and whether it may gain privileges. Nothing it could set.
constexpr int kPrctlReadings[] = {PR_CAPBSET_READ, PR_GET_DUMPABLE, PR_GET_SECUREBITS,
                                  PR_GET_NO_NEW_PRIVS};

// fcntl's commands that the C library and the output stage use: a descriptor's flags.
constexpr int kFcntlCommands[] = {F_GETFD, F_SETFD, F_GETFL, F_SETFL, F_DUPFD_CLOEXEC};

class Filter {
  public:
    explicit Filter(uint32_t defaultAction) : filter_(seccomp_init(defaultAction)) {}
    ~Filter() { seccomp_release(filter_); }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;
    bool built() const { return filter_ != nullptr && ok_; }
    scmp_filter_ctx get() const { return filter_; }

    // A call the library does not know on this architecture cannot be made here either.
    void Add(uint32_t action, int call, std::initializer_list<scmp_arg_cmp> checks = {}) {
        if (filter_ == nullptr || call < 0) return;
        const int added =
            seccomp_rule_add_array(filter_, action, call, static_cast<unsigned>(checks.size()),
                                   checks.size() == 0 ? nullptr : checks.begin());
        ok_ = ok_ && (added == 0 || added == -EDOM);
    }
    void Allow(int call, std::initializer_list<scmp_arg_cmp> checks = {}) {
        Add(SCMP_ACT_ALLOW, call, checks);
    }
    void Refuse(int call, std::initializer_list<scmp_arg_cmp> checks = {}, int error = EPERM) {
        Add(SCMP_ACT_ERRNO(static_cast<uint32_t>(error)), call, checks);
    }

  private:
    scmp_filter_ctx filter_;
    bool ok_ = true;
};

// Every field spelled out: the library's argument macros leave datum_b unnamed.
scmp_arg_cmp Argument(unsigned index, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
    return scmp_arg_cmp{index, op, a, b};
}
scmp_arg_cmp Equal(unsigned index, scmp_datum_t value) {
    return Argument(index, SCMP_CMP_EQ, value);
}
scmp_arg_cmp BitsClear(unsigned index, scmp_datum_t bits) {
    return Argument(index, SCMP_CMP_MASKED_EQ, bits, 0);
}

// A mode may carry only the bits allowed; each bit beyond them is refused by name, so that a
// probe sees EPERM without noise.
void AllowModes(Filter& filter, int call, unsigned index, mode_t allowed) {
    const mode_t forbidden = 07777 & ~allowed;
    filter.Allow(call, {BitsClear(index, forbidden)});
    for (mode_t bit = 1; bit <= 04000; bit <<= 1) {
        if ((forbidden & bit) != 0)
            filter.Refuse(call, {Argument(index, SCMP_CMP_MASKED_EQ, bit, bit)});
    }
}

void AllowFileCalls(Filter& filter, const ModeBits& modes) {
    AllowModes(filter, SCMP_SYS(openat), 3, modes.files | CountsFileModes());
    AllowModes(filter, SCMP_SYS(fchmod), 1, modes.files);
    AllowModes(filter, SCMP_SYS(mkdirat), 2, modes.folders);
    AllowModes(filter, SCMP_SYS(mkdir), 1, modes.folders);
    // Only a descriptor's times, never a path's.
    filter.Allow(SCMP_SYS(utimensat), {Equal(1, 0)});
    filter.Refuse(SCMP_SYS(utimensat), {Argument(1, SCMP_CMP_NE, 0)});
    // A whiteout is a device node.
    filter.Allow(SCMP_SYS(renameat2), {BitsClear(4, kRenameWhiteout)});
    for (const int command : kFcntlCommands) filter.Allow(SCMP_SYS(fcntl), {Equal(1, command)});
    for (const int option : kPrctlReadings) filter.Allow(SCMP_SYS(prctl), {Equal(0, option)});
}

// Threads, not processes: clone3 answers "not implemented", so that the C library falls back to
// clone, whose flags the filter can see.
void AllowThreads(Filter& filter) {
    filter.Allow(SCMP_SYS(clone), {Argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)});
    filter.Refuse(SCMP_SYS(clone), {BitsClear(0, CLONE_THREAD)});
    filter.Refuse(SCMP_SYS(clone3), {}, ENOSYS);
}

// Calls aimed at a process act on this one alone: signals (an abort raises one) and its limits
// (0 names the caller). Which processors a thread may run on is only read, by the C library for
// any of its threads.
void AllowSelfDirected(Filter& filter) {
    const auto self = static_cast<scmp_datum_t>(::getpid());
    for (const int call : {SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(rt_sigqueueinfo),
                           SCMP_SYS(rt_tgsigqueueinfo)}) {
        filter.Allow(call, {Equal(0, self)});
        filter.Refuse(call, {Argument(0, SCMP_CMP_NE, self)});
    }
    filter.Allow(SCMP_SYS(prlimit64), {Equal(0, 0)});
    filter.Allow(SCMP_SYS(prlimit64), {Equal(0, self)});
}

// A call on no list: it fails as a refused one does, and the standard error says which it was.
// Only write and the return from the handler run here, both safe in a signal handler.
void SayRefusedCall(int, siginfo_t* info, void* context) {
    static constexpr char kStart[] = "winqor: sandbox: system call ";
    static constexpr char kEnd[] = " is not on the allow-list\n";
    char line[sizeof kStart + 10 + sizeof kEnd];
    size_t length = 0;
    for (const char c : std::string_view(kStart)) line[length++] = c;
    char digits[10];
    size_t count = 0;
    for (auto number = static_cast<unsigned>(info->si_syscall); count == 0 || number != 0;
         number /= 10) {
        digits[count++] = static_cast<char>('0' + number % 10);
    }
    while (count > 0) line[length++] = digits[--count];
    for (const char c : std::string_view(kEnd)) line[length++] = c;
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, length);
#if defined(__x86_64__)
    static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RAX] = -EPERM;
#elif defined(__aarch64__)
    static_cast<ucontext_t*>(context)->uc_mcontext.regs[0] = static_cast<uint64_t>(-EPERM);
#else
    (void)context;
    ::_exit(126);
#endif
}

bool CatchRefusedCalls() {
    struct sigaction action = {};
    action.sa_sigaction = SayRefusedCall;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGSYS, &action, nullptr) == 0;
}

// The sanitizers' runtime, in the test builds that carry it, calls more than the program does:
// it tests whether memory is readable by writing it to a pipe, and reads its own file's name.
// gcov's, in coverage builds, locks each counts file while it merges the process's counts in.
void AllowCallsOfThisBuild(Filter& filter) {
    if (CountsAreWritten()) {
        for (const int command : {F_SETLKW, F_SETLK, F_GETLK})
            filter.Allow(SCMP_SYS(fcntl), {Equal(1, command)});
    }
    if (!kSanitizedBuild) return;
    for (const int call :
         {SCMP_SYS(pipe2), SCMP_SYS(readlink), SCMP_SYS(getrlimit), SCMP_SYS(mincore)}) {
        filter.Allow(call);
    }
}

void BuildAllowList(Filter& filter, const ConfinementRules& rules) {
    for (const int call : kPlainCalls) filter.Allow(call);
    for (const int call : kRefusedCalls) filter.Refuse(call);
    AllowFileCalls(filter, AllowedModes(rules));
    AllowThreads(filter);
    AllowSelfDirected(filter);
    AllowCallsOfThisBuild(filter);
}

}  // namespace

ModeBits AllowedModes(const ConfinementRules& rules) {
    const mode_t granted = 0777 & ~CurrentUmask();
    const mode_t othersWrite = S_IWGRP | S_IWOTH;
    return {static_cast<mode_t>(granted & ~(rules.ownerOnlyFiles ? othersWrite : 0)),
            static_cast<mode_t>(granted & ~(rules.ownerOnlyFolders ? othersWrite : 0))};
}

void PutUpFilter(const ConfinementRules& rules, ConfinementWalls& walls) {
    Filter filter(SCMP_ACT_TRAP);
    if (filter.get() != nullptr) {
        seccomp_attr_set(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS);
        // A binary tree of the call numbers: each call costs a few comparisons in the kernel
        // instead of a walk past every rule before its own (the 2,400-file tree makes some
        // 15,000 calls).
        seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_OPTIMIZE, 2);
        BuildAllowList(filter, rules);
    }
    const int loaded = !filter.built()        ? -EINVAL
                       : !CatchRefusedCalls() ? -errno
                                              : seccomp_load(filter.get());
    if (loaded != 0) {
        Note(walls.missing, "the system-call filter: " + SystemReason(-loaded));
        return;
    }
    walls.filter = true;
    Note(walls.up, "system-call allow-list");
}

}  // namespace winqor::posix
