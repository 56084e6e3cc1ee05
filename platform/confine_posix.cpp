// Linux Landlock: a ruleset that handles every file-system write right the running kernel
// knows, one rule that allows them all beneath the folder, then restrict_self. Reads are not
// handled, so they stay unrestricted.
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/confine.h"

#include "platform/posix_support.h"

// Rights of later ABIs than the build machine's headers know; the kernel is asked which it has.
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

namespace winqor {

using namespace posix;
namespace {

constexpr uint64_t kWriteRightsOfFirstAbi =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM;

// The write rights that the kernel's Landlock version can handle; 0 without Landlock.
uint64_t WriteRightsOfKernel(int& abi) {
    abi = static_cast<int>(
        ::syscall(__NR_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION));
    if (abi < 1) return 0;
    uint64_t rights = kWriteRightsOfFirstAbi;
    if (abi >= 2) rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    return rights;
}

bool AllowBeneath(int ruleset, DirectoryHandle folder, uint64_t rights) {
    struct landlock_path_beneath_attr beneath = {};
    beneath.allowed_access = rights;
    beneath.parent_fd = folder;
    return ::syscall(__NR_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0) == 0;
}

}  // namespace

ConfineResult ConfineWritesTo(DirectoryHandle folder, std::string& reason) {
    int abi = 0;
    const uint64_t rights = WriteRightsOfKernel(abi);
    if (rights == 0) {
        reason = abi < 0 && errno == EOPNOTSUPP ? "Landlock is disabled in this kernel"
                                                : "this kernel has no Landlock";
        return ConfineResult::kUnsupported;
    }
    struct landlock_ruleset_attr attributes = {};
    attributes.handled_access_fs = rights;
    Descriptor ruleset(static_cast<int>(
        ::syscall(__NR_landlock_create_ruleset, &attributes, sizeof attributes, 0)));
    // No new privileges: a confined process must not gain rights by starting a set-id program.
    if (ruleset.get() < 0 || !AllowBeneath(ruleset.get(), folder, rights) ||
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::syscall(__NR_landlock_restrict_self, ruleset.get(), 0) != 0) {
        reason = SystemReason(errno);
        return ConfineResult::kRefused;
    }
    return ConfineResult::kConfined;
}

}  // namespace winqor
