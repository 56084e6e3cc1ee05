// Linux: no new privileges, root's power shed and the limits set (confine_privileges.cpp);
// Landlock handles every right the running kernel knows (files, the network, scoping) and
// allows beneath the folder only what extraction does; the system-call allow-list
// (confine_filter.cpp) goes up last, since it refuses the calls that put up the others.
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/confine.h"

#include "platform/posix/confine_parts.h"
#include "platform/posix/coverage_counts.h"
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

// What extraction does beneath its folder: read and write plain files, read folders, make,
// remove and rename (within one folder) plain files and folders, truncate. Never execute, make a
// device node, FIFO, socket or symbolic link, move an entry to another folder, or control a
// device.
constexpr uint64_t kExtractionRights =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR |
    LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_DIR |
    LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_TRUNCATE;

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

bool AllowBeneath(int ruleset, DirectoryHandle folder, uint64_t rights) {
    if (folder == kInvalidDirectory) return true;  // no folder: no file right anywhere
    struct landlock_path_beneath_attr beneath = {};
    beneath.allowed_access = rights;
    beneath.parent_fd = static_cast<int>(folder);
    return ::syscall(__NR_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0) == 0;
}

// A coverage build's counts files, beneath the build's folder: read, rewritten, made where
// missing. Nothing in other builds.
bool AllowCountsBeneath(int ruleset, uint64_t handled) {
    constexpr uint64_t kCountsRights = LANDLOCK_ACCESS_FS_READ_FILE |
                                       LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG |
                                       LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_TRUNCATE;
    const Descriptor counts(OpenCountsFolder());
    if (counts.get() < 0) return true;
    return AllowBeneath(ruleset, static_cast<DirectoryHandle>(counts.get()),
                        handled & kCountsRights);
}

void NoteLandlockWalls(int abi, const RulesetAttributes& rights, ConfinementWalls& walls) {
    walls.files = true;
    walls.network = rights.handledAccessNet != 0;
    walls.scoping = rights.scoped != 0;
    Note(walls.up, "files (Landlock ABI " + std::to_string(abi) + ")");
    if (walls.network) Note(walls.up, "network");
    if (walls.scoping) Note(walls.up, "signals and abstract sockets");
    if (!walls.network) Note(walls.missing, "network (needs Landlock ABI 4)");
    if (!walls.scoping) Note(walls.missing, "signals and abstract sockets (need Landlock ABI 6)");
}

}  // namespace

namespace posix {

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
    if (ruleset.get() < 0 ||
        !AllowBeneath(ruleset.get(), folder, rights.handledAccessFs & kExtractionRights) ||
        !AllowCountsBeneath(ruleset.get(), rights.handledAccessFs) ||
        ::syscall(__NR_landlock_restrict_self, ruleset.get(), 0) != 0) {
        Note(walls.missing, "Landlock refused: " + SystemReason(errno));
        return;
    }
    NoteLandlockWalls(abi, rights, walls);
}

}  // namespace posix

ConfinementWalls ConfineToFolder(DirectoryHandle folder, const ConfinementRules& rules) {
    ConfinementWalls walls;
    // No new privileges: a confined process must not gain rights by starting a set-id program
    // (and both Landlock and the filter need it from a process without privileges).
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        walls.missing = "no new privileges refused: " + SystemReason(errno);
        return walls;
    }
    if (!ShedPrivileges(rules, walls)) return walls;
    PutUpLandlock(folder, walls);
    PutUpFilter(rules, walls);
    return walls;
}

}  // namespace winqor
