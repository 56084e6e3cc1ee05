// Linux: Landlock handles every right the running kernel knows (files, the network, scoping)
// and allows the file rights beneath the folder alone; a seccomp filter then refuses the calls
// that Landlock does not cover. The filter is a refusal list over an allowed default: the
// decoder's threads, the C library and (in test builds) the sanitizers call more than any
// short allow-list would keep up with, and a call missed there would kill a good extraction.
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>

#include "platform/confine.h"

#include "platform/posix/support.h"

// Rights and fields of later ABIs than the build machine's headers know; the kernel is asked
// which it has.
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif

namespace winqor {

using namespace posix;
namespace {

constexpr uint64_t kFileRightsOfFirstAbi = (1ULL << 13) - 1;  // execute .. make_sym
constexpr uint64_t kNetBindTcp = 1ULL << 0;
constexpr uint64_t kNetConnectTcp = 1ULL << 1;
constexpr uint64_t kScopeAbstractUnixSocket = 1ULL << 0;
constexpr uint64_t kScopeSignal = 1ULL << 1;

// The kernel's ruleset attributes as of ABI 6; a kernel takes the prefix it knows.
struct RulesetAttributes {
    uint64_t handledAccessFs = 0;
    uint64_t handledAccessNet = 0;
    uint64_t scoped = 0;
};

size_t AttributeBytesOf(int abi) {
    if (abi >= 6) return sizeof(RulesetAttributes);
    return abi >= 4 ? 2 * sizeof(uint64_t) : sizeof(uint64_t);
}

RulesetAttributes RightsOf(int abi) {
    RulesetAttributes rights;
    rights.handledAccessFs = kFileRightsOfFirstAbi;
    if (abi >= 2) rights.handledAccessFs |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) rights.handledAccessFs |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5) rights.handledAccessFs |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    if (abi >= 4) rights.handledAccessNet = kNetBindTcp | kNetConnectTcp;
    if (abi >= 6) rights.scoped = kScopeAbstractUnixSocket | kScopeSignal;
    return rights;
}

void Note(std::string& list, const std::string& item) {
    list += (list.empty() ? "" : ", ") + item;
}

bool AllowBeneath(int ruleset, DirectoryHandle folder, uint64_t rights) {
    if (folder == kInvalidDirectory) return true;  // no folder: no file right anywhere
    struct landlock_path_beneath_attr beneath = {};
    beneath.allowed_access = rights;
    beneath.parent_fd = static_cast<int>(folder);
    return ::syscall(__NR_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0) == 0;
}

void PutUpLandlock(DirectoryHandle folder, ConfinementWalls& walls) {
    const int abi = static_cast<int>(
        ::syscall(__NR_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION));
    if (abi < 1) {
        Note(walls.missing, errno == EOPNOTSUPP ? "Landlock is disabled in this kernel"
                                                : "this kernel has no Landlock");
        return;
    }
    RulesetAttributes rights = RightsOf(abi);
    Descriptor ruleset(static_cast<int>(
        ::syscall(__NR_landlock_create_ruleset, &rights, AttributeBytesOf(abi), 0)));
    if (ruleset.get() < 0 || !AllowBeneath(ruleset.get(), folder, rights.handledAccessFs) ||
        ::syscall(__NR_landlock_restrict_self, ruleset.get(), 0) != 0) {
        Note(walls.missing, "Landlock refused: " + SystemReason(errno));
        return;
    }
    walls.files = true;
    walls.network = rights.handledAccessNet != 0;
    walls.scoping = rights.scoped != 0;
    Note(walls.up, "files (Landlock ABI " + std::to_string(abi) + ")");
    if (walls.network) Note(walls.up, "network");
    if (walls.scoping) Note(walls.up, "signals and abstract sockets");
    if (!walls.network) Note(walls.missing, "network (needs Landlock ABI 4)");
    if (!walls.scoping) Note(walls.missing, "signals and abstract sockets (need Landlock ABI 6)");
}

// Calls added to the kernel after the C library's headers; the numbers are the same on every
// architecture since they were unified.
constexpr int kFchmodat2 = 452;
constexpr int kSetxattrat = 463;
constexpr int kRemovexattrat = 466;

bool Refuse(scmp_filter_ctx filter, int call, int error = EPERM) {
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(static_cast<uint32_t>(error)), call, 0) == 0;
}

bool RefuseAll(scmp_filter_ctx filter, std::initializer_list<int> calls) {
    bool all = true;
    for (const int call : calls) all = Refuse(filter, call) && all;
    return all;
}

// A library older than these calls may not take them; the kernel then may not have them either.
bool RefuseNewerCalls(scmp_filter_ctx filter) {
    for (const int call : {kFchmodat2, kSetxattrat, kRemovexattrat}) Refuse(filter, call);
    return true;
}

// The calls that change what no Landlock right covers, start something, or reach outside.
bool RefuseUncoveredCalls(scmp_filter_ctx filter) {
    return RefuseAll(filter, {SCMP_SYS(chmod),
                              SCMP_SYS(fchmodat),
                              SCMP_SYS(chown),
                              SCMP_SYS(fchown),
                              SCMP_SYS(lchown),
                              SCMP_SYS(fchownat),
                              SCMP_SYS(setxattr),
                              SCMP_SYS(lsetxattr),
                              SCMP_SYS(fsetxattr),
                              SCMP_SYS(removexattr),
                              SCMP_SYS(lremovexattr),
                              SCMP_SYS(fremovexattr),
                              SCMP_SYS(execve),
                              SCMP_SYS(execveat),
                              SCMP_SYS(ptrace),
                              SCMP_SYS(fork),
                              SCMP_SYS(vfork),
                              SCMP_SYS(socket),
                              SCMP_SYS(socketpair),
                              SCMP_SYS(mount),
                              SCMP_SYS(umount2),
                              SCMP_SYS(pivot_root),
                              SCMP_SYS(chroot),
                              SCMP_SYS(move_mount),
                              SCMP_SYS(open_tree),
                              SCMP_SYS(fsopen),
                              SCMP_SYS(fsmount),
                              SCMP_SYS(fsconfig),
                              SCMP_SYS(fspick),
                              SCMP_SYS(mount_setattr),
                              SCMP_SYS(unshare),
                              SCMP_SYS(setns),
                              SCMP_SYS(process_vm_writev),
                              SCMP_SYS(process_vm_readv),
                              SCMP_SYS(bpf),
                              SCMP_SYS(perf_event_open),
                              SCMP_SYS(userfaultfd),
                              SCMP_SYS(keyctl),
                              SCMP_SYS(add_key),
                              SCMP_SYS(request_key),
                              SCMP_SYS(io_uring_setup),
                              SCMP_SYS(io_uring_enter),
                              SCMP_SYS(io_uring_register),
                              SCMP_SYS(name_to_handle_at),
                              SCMP_SYS(open_by_handle_at),
                              SCMP_SYS(pidfd_open),
                              SCMP_SYS(pidfd_send_signal),
                              SCMP_SYS(pidfd_getfd),
                              SCMP_SYS(tkill)}) &&
           RefuseNewerCalls(filter);
}

// New processes are refused, threads are not; clone3 answers "not implemented" so that the C
// library creates its threads with clone, whose flags the filter can see.
bool RefuseNewProcesses(scmp_filter_ctx filter) {
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                            SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) == 0 &&
           Refuse(filter, SCMP_SYS(clone3), ENOSYS);
}

// The kernel reads an ioctl's request as 32 bits: the comparison ignores the upper half too.
bool RefuseTerminalInput(scmp_filter_ctx filter) {
    for (const unsigned long request : {TIOCSTI, TIOCLINUX}) {
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(ioctl), 1,
                             SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)) != 0) {
            return false;
        }
    }
    return true;
}

// Signals reach this process only, whether the kernel's Landlock scopes them or not.
bool RefuseSignalsToOthers(scmp_filter_ctx filter) {
    // Every field spelled out: the library's SCMP_A0 macro leaves datum_b unnamed.
    const scmp_arg_cmp notSelf{0, SCMP_CMP_NE, static_cast<scmp_datum_t>(::getpid()), 0};
    for (const int call : {SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(rt_sigqueueinfo),
                           SCMP_SYS(rt_tgsigqueueinfo)}) {
        if (seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 1, notSelf) != 0) {
            return false;
        }
    }
    return true;
}

void PutUpFilter(ConfinementWalls& walls) {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    const bool built = filter != nullptr && RefuseUncoveredCalls(filter) &&
                       RefuseNewProcesses(filter) && RefuseTerminalInput(filter) &&
                       RefuseSignalsToOthers(filter);
    const int loaded = built ? seccomp_load(filter) : -EINVAL;
    seccomp_release(filter);
    if (loaded != 0) {
        Note(walls.missing, "the system-call filter: " + SystemReason(-loaded));
        return;
    }
    walls.filter = true;
    Note(walls.up, "system-call filter");
}

}  // namespace

ConfinementWalls ConfineToFolder(DirectoryHandle folder) {
    ConfinementWalls walls;
    // No new privileges: a confined process must not gain rights by starting a set-id program
    // (and both walls need it from a process without privileges).
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        walls.missing = "no new privileges refused: " + SystemReason(errno);
        return walls;
    }
    PutUpLandlock(folder, walls);
    PutUpFilter(walls);
    return walls;
}

}  // namespace winqor
