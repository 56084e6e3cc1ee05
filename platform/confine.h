// Self-confinement: a process that is about to read untrusted bytes gives up, for good, every
// power but writing beneath one folder and talking to its parent over what it already holds.
#pragma once

#include <string>

#include "platform/tree_writing.h"

namespace winqor {

// Which walls went up, and which the system could not put up.
struct ConfinementWalls {
    bool files = false;    // no file reached by path outside the folder, for reading too
    bool network = false;  // no TCP bind or connect
    bool scoping = false;  // no abstract unix socket, no signal outside the sandbox
    bool filter = false;   // the system-call filter
    std::string up;        // the walls that stand, for the debug channel
    std::string missing;   // what is missing and why; empty when every wall stands
};

// Confines the calling process (and its threads, present and later) to folder: every file
// right (reading, writing, creating, removing, renaming, truncating, device control) holds
// beneath folder only, or nowhere when folder is kInvalidDirectory; descriptors already open
// keep working. The network and other processes are out of reach, and a filter refuses the
// calls no wall covers: changing a file's owner or mode by path, extended attributes,
// pushing input into a terminal, starting programs or processes (threads stay allowed),
// tracing, sockets, mounts, namespaces, asynchronous rings and signals to other processes.
// fchmod on a descriptor stays allowed. Cannot be undone; on a kernel that lacks a wall, the
// others still go up and missing says what stands open.
ConfinementWalls ConfineToFolder(DirectoryHandle folder);

}  // namespace winqor
