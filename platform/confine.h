// Self-confinement: a process gives up the right to change the file system anywhere but below
// one folder, so that even a fault in its own checks cannot write elsewhere.
#pragma once

#include <string>

#include "platform/tree_writing.h"

namespace winqor {

enum class ConfineResult {
    kConfined,     // from now on this process changes nothing outside the folder
    kUnsupported,  // the system offers no such confinement; nothing changed
    kRefused,      // the system would not confine this process; nothing changed
};

// Confines the calling process (and whatever it starts later) to folder: creating, writing,
// truncating, renaming, linking or removing anything outside it fails with "permission
// denied". Reading stays allowed everywhere. Cannot be undone. reason says why when the result
// is not kConfined.
ConfineResult ConfineWritesTo(DirectoryHandle folder, std::string& reason);

}  // namespace winqor
