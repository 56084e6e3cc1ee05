// Root's power shed before the first untrusted byte: a confined process run by root keeps no
// capability (so no device, no file of another owner, no kernel state is within reach), cannot
// regain one by running a set-id program or through uid 0's special rules, writes no core (a
// core would hold decrypted bytes and the password's digest) and cannot raise its limits.
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/posix/confine_parts.h"
#include "platform/posix/coverage_counts.h"
#include "platform/posix/support.h"

namespace winqor::posix {
namespace {

// The secure bits: uid 0 gains no capability on exec or by a change of uid, none is kept or
// raised as ambient, each locked so that nothing can clear it again.
constexpr unsigned long kSecureNoRoot = 1u << 0;
constexpr unsigned long kSecureNoRootLocked = 1u << 1;
constexpr unsigned long kSecureNoSetuidFixup = 1u << 2;
constexpr unsigned long kSecureNoSetuidFixupLocked = 1u << 3;
constexpr unsigned long kSecureKeepCapsLocked = 1u << 5;
constexpr unsigned long kSecureNoAmbientRaise = 1u << 6;
constexpr unsigned long kSecureNoAmbientRaiseLocked = 1u << 7;
constexpr unsigned long kLockedSecureBits =
    kSecureNoRoot | kSecureNoRootLocked | kSecureNoSetuidFixup | kSecureNoSetuidFixupLocked |
    kSecureKeepCapsLocked | kSecureNoAmbientRaise | kSecureNoAmbientRaiseLocked;

// The capability numbers this kernel knows; asked of prctl, since /proc may be out of reach.
int LastCapability() {
    int last = 0;
    while (last < 63 && ::prctl(PR_CAPBSET_READ, last + 1, 0, 0, 0) >= 0) ++last;
    return last;
}

bool ReadCapabilities(__user_cap_data_struct (&sets)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, sets) == 0;
}

bool HoldsSetpcap() {
    __user_cap_data_struct sets[2] = {};
    return ReadCapabilities(sets) && (sets[0].effective & (1u << CAP_SETPCAP)) != 0;
}

bool BoundingSetEmpty(int last) {
    for (int capability = 0; capability <= last; ++capability) {
        if (::prctl(PR_CAPBSET_READ, capability, 0, 0, 0) != 0) return false;
    }
    return true;
}

// Root, or a process holding any capability, could regain power through its bounding set or
// uid 0's special rules; an ordinary user's process holds nothing, and no new privileges keeps
// it from gaining anything on exec.
bool HasPowerToLose() {
    uid_t real = 0, effective = 0, saved = 0;
    __user_cap_data_struct sets[2] = {};
    if (::getresuid(&real, &effective, &saved) != 0 || !ReadCapabilities(sets)) return true;
    return real == 0 || effective == 0 || saved == 0 || sets[0].permitted != 0 ||
           sets[1].permitted != 0;
}

// Emptying the bounding set and locking the secure bits take CAP_SETPCAP, which such a
// process must still hold.
bool EmptyBoundingSetAndLock(std::string& why) {
    if (!HasPowerToLose()) return true;
    if (!HoldsSetpcap()) {
        why = "the bounding set cannot be emptied without CAP_SETPCAP";
        return false;
    }
    const int last = LastCapability();
    for (int capability = 0; capability <= last; ++capability) {
        if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0 && errno != EINVAL) {
            why = "the bounding set: " + SystemReason(errno);
            return false;
        }
    }
    if (::prctl(PR_SET_SECUREBITS, kLockedSecureBits, 0, 0, 0) != 0) {
        why = "the secure bits: " + SystemReason(errno);
        return false;
    }
    return BoundingSetEmpty(last) || (why = "the bounding set is not empty", false);
}

bool ClearCapabilitySets(std::string& why) {
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
        why = "the ambient set: " + SystemReason(errno);
        return false;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    if (::syscall(SYS_capset, &header, none) != 0) {
        why = "the capability sets: " + SystemReason(errno);
        return false;
    }
    __user_cap_data_struct sets[2] = {};
    if (!ReadCapabilities(sets) || std::memcmp(sets, none, sizeof sets) != 0) {
        why = "a capability remained";
        return false;
    }
    return true;
}

// The writable private memory the process holds now (VmData), read while /proc is in reach.
uint64_t WritableMemoryHeld() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr) return 0;
    char line[256];
    unsigned long long kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmData: %llu kB", &kilobytes) == 1) break;
    }
    std::fclose(status);
    return static_cast<uint64_t>(kilobytes) * 1024;
}

// A thread's stack is writable memory of the size the stack limit gives (the C library's own
// size when there is none).
uint64_t ThreadStackBytes() {
    constexpr uint64_t kLibraryDefault = 32 * 1024 * 1024;
    constexpr uint64_t kGuardAndSlack = 1024 * 1024;
    struct rlimit stack;
    if (::getrlimit(RLIMIT_STACK, &stack) != 0 || stack.rlim_cur == RLIM_INFINITY) {
        return kLibraryDefault + kGuardAndSlack;
    }
    return static_cast<uint64_t>(stack.rlim_cur) + kGuardAndSlack;
}

uint64_t MemoryLimit(const ConfinementRules& rules) {
    return WritableMemoryHeld() + rules.maxMemoryBytes + rules.maxThreads * ThreadStackBytes();
}

// Lowers the limit to value, soft and hard alike, never raising one a caller set lower (a test's
// small file-size limit stands for a full disk). The kernel always lets a hard limit go down;
// only a program that emulates it may refuse (valgrind keeps the descriptor limit's hard value
// for itself): the soft limit then holds alone, and softOnly says so.
bool Limit(int resource, uint64_t value, const char* name, std::string& why,
           std::string& softOnly) {
    struct rlimit limit;
    if (::getrlimit(resource, &limit) == 0) {
        const auto wanted = static_cast<rlim_t>(value);
        const rlim_t lowered =
            limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > wanted ? wanted : limit.rlim_cur;
        const struct rlimit both { lowered, lowered };
        if (::setrlimit(resource, &both) == 0) return true;
        const int error = errno;
        const struct rlimit soft { lowered, limit.rlim_max };
        if (::setrlimit(resource, &soft) == 0) {
            Note(softOnly, std::string(name) + " (its hard value: " + SystemReason(error) + ")");
            return true;
        }
    }
    why = std::string(name) + ": " + SystemReason(errno);
    return false;
}

// Without CAP_SYS_RESOURCE no hard limit goes up again. Memory is bounded but where a
// sanitizer's shadow takes more than any bound.
bool SetLimits(const ConfinementRules& rules, std::string& why, std::string& softOnly) {
    const struct {
        int resource;
        uint64_t value;
        const char* name;
    } limits[] = {
        {RLIMIT_FSIZE, std::max(rules.maxFileBytes, CountsFileBytes()), "the file-size limit"},
        {RLIMIT_NOFILE, rules.maxDescriptors, "the descriptor limit"},
        {RLIMIT_CORE, 0, "the core limit"},
        {RLIMIT_MEMLOCK, 0, "the locked-memory limit"},
        {RLIMIT_MSGQUEUE, 0, "the message-queue limit"},
        {RLIMIT_RTPRIO, 0, "the real-time priority limit"},
        {RLIMIT_NICE, 0, "the priority limit"},
        {RLIMIT_LOCKS, 0, "the lock limit"},
    };
    for (const auto& limit : limits) {
        if (!Limit(limit.resource, limit.value, limit.name, why, softOnly)) return false;
    }
    return kSanitizedBuild ||
           Limit(RLIMIT_DATA, MemoryLimit(rules), "the memory limit", why, softOnly);
}

}  // namespace

void Note(std::string& list, const std::string& item) {
    list += (list.empty() ? "" : ", ") + item;
}

bool ShedPrivileges(const ConfinementRules& rules, ConfinementWalls& walls) {
    std::string why, softOnly;
    const bool shed = SetLimits(rules, why, softOnly) &&
                      ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && EmptyBoundingSetAndLock(why) &&
                      ClearCapabilitySets(why);
    if (!shed) {
        Note(walls.missing, "privileges could not be shed: " + (why.empty() ? "core dumps" : why));
        return false;
    }
    walls.privileges = true;
    Note(walls.up, "no capability, limits");
    if (!softOnly.empty()) Note(walls.missing, "soft limits only: " + softOnly);
    return true;
}

}  // namespace winqor::posix
