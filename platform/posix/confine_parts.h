// The walls ConfineToFolder puts up, one file each: shed privileges and set limits, Landlock,
// the system-call allow-list. Included by platform/posix/ only.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/confine.h"

namespace winqor::posix {

// A test build with a sanitizer: its runtime reserves its shadow as writable memory (more than
// any memory limit allows) and makes calls of its own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

// Adds item to a comma-separated list.
void Note(std::string& list, const std::string& item);

// Every capability gone for good (the bounding set too when the process may empty it, and the
// secure bits that would let uid 0 regain them, locked), no core dump, and limits it cannot
// raise. false, with missing noted, when any of it fails.
bool ShedPrivileges(const ConfinementRules& rules, ConfinementWalls& walls);

// Landlock: the file rights rules allow beneath folder alone, and the network and other
// processes out of reach as far as the kernel's ABI goes.
void PutUpLandlock(DirectoryHandle folder, ConfinementWalls& walls);

// The modes a confined process may give what it makes: never a set-id or sticky bit, never a
// bit the umask takes, and no group or other write where the rules say owner only.
struct ModeBits {
    mode_t files = 0;
    mode_t folders = 0;
};
ModeBits AllowedModes(const ConfinementRules& rules);

// The system-call allow-list; anything else fails, and a call on no list is named on the
// standard error.
void PutUpFilter(const ConfinementRules& rules, ConfinementWalls& walls);

}  // namespace winqor::posix
