// Self-confinement: a process that is about to read untrusted bytes gives up, for good, every
// power but writing plain files and folders beneath one folder and talking to its parent over
// what it already holds, whoever runs it (root included).
#pragma once

#include <cstdint>
#include <string>

#include "platform/tree_writing.h"

namespace winqor {

// What the confined process may still do, beyond the fixed walls.
struct ConfinementRules {
    // Files and folders it makes are never writable by group or others (a run that will start
    // a program from the tree, or one that trusts only folders of their owner).
    bool ownerOnlyFiles = false;
    bool ownerOnlyFolders = false;
    uint64_t maxFileBytes = 0;    // the largest file it may write; 0: no file at all
    uint64_t maxMemoryBytes = 0;  // writable memory it may add to what it holds now, beyond
    uint32_t maxThreads = 0;      // the stacks of this many threads
    uint32_t maxDescriptors = 0;  // descriptors it may hold, those it holds now included
};

// Which walls went up, and which the system could not put up.
struct ConfinementWalls {
    bool privileges = false;  // no capability, none to regain, no core dump, limits set
    bool files = false;       // no file reached by path outside the folder, for reading too
    bool network = false;     // no TCP bind or connect
    bool scoping = false;     // no abstract unix socket, no signal outside the sandbox
    bool filter = false;      // the system-call allow-list
    std::string up;           // the walls that stand, for the debug channel
    std::string missing;      // what is missing and why; empty when every wall stands
};

// Confines the calling process (and its threads, present and later) to folder. It keeps no
// capability and cannot regain one (not even as root), dumps no core, and cannot raise its
// limits (rules' file size, memory and descriptors). Beneath folder it may read, make, write,
// truncate, rename and remove plain files and folders, nothing else (no device node, FIFO,
// socket or link; nothing executed); outside folder nothing, or nowhere when folder is
// kInvalidDirectory. Descriptors already open keep working. The network and other processes
// are out of reach, and the system calls it may make are an allow-list: the modes it gives
// never carry a set-id or sticky bit or one its umask (and rules) would not give. A call off
// the list fails and is named on the standard error. Cannot be undone. privileges false means
// the process could not shed its power: the caller must not go on. On a kernel that lacks
// another wall, the others still go up and missing says what stands open.
ConfinementWalls ConfineToFolder(DirectoryHandle folder, const ConfinementRules& rules);

}  // namespace winqor
