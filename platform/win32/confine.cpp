// Windows lets a process lower its own rights (a restricted token, a lower integrity level)
// only for what it starts later, not for itself, and none of them keeps writes to one folder.
#include "platform/win32/support.h"

#include "platform/confine.h"

namespace winqor {

ConfinementWalls ConfineToFolder(DirectoryHandle, const ConfinementRules&) {
    ConfinementWalls walls;
    walls.missing = "Windows cannot confine a running process to one folder";
    return walls;
}

}  // namespace winqor
