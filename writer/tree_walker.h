// Turns a folder on disk into a record stream: the root's record first (empty name), each
// folder's record before those of its subfolders, every folder followed by its files, names
// sorted by their UTF-16 units so that the same tree always gives the same stream.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/tree_reading.h"
#include "writer/path_pattern.h"

namespace winqor {

// What happened, and where: a path below the root (empty for the root itself) with '/' between its
// parts, in the system's own bytes (a name may hold any byte: escape it before showing it).
struct WalkMessage {
    std::string what;
    std::string where;
};

struct TreeWalkOptions {
    // A file that the walk leaves out, with a warning: the archive being written.
    std::optional<FileId> leaveOut;
    // Entries left out silently; an excluded folder is not read at all.
    ExcludeList exclude;
    // Seconds since 1970: a later modification time is stored as this one, so that a tree
    // checked out at another moment still gives the same records.
    std::optional<int64_t> latestTime;
    // Called once the whole tree is listed, before any file is read (tests change the tree
    // there, as another program might).
    std::function<void()> afterListing;
};

struct TreeWalkResult {
    std::vector<uint8_t> records;
    // Things left out: symbolic links, devices, pipes and sockets, the archive itself, and the
    // temporary files of an interrupted extraction.
    std::vector<WalkMessage> warnings;
    uint32_t folders = 0;  // the root included
    uint32_t files = 0;
};

// Walks the folder at root (a link there is followed: the caller chose it) and builds its
// record stream. Everything below the root is reached from its parent folder's handle without
// following a link, so nothing outside the root gets in, even when a folder is swapped for a
// link while the walk runs. false, with reason set ("WHAT: PATH", the path as WalkPath gives
// it and escaped for display), when a folder or file cannot be read (a folder that is no
// longer the one listed included), a name is not UTF-8 or holds '\' or ':' (no reader accepts
// those), a file is larger than an archive holds, or the stream would exceed 10,485,504 bytes.
bool WalkTree(const std::string& root, const TreeWalkOptions& options, TreeWalkResult& result,
              std::string& reason);

// The path that a WalkMessage's where names, as the user named root: root itself for the root.
std::string WalkPath(const std::string& root, const std::string& where);

// Attributes of a file record: 0x20, or 0x21 when its owner may not write it.
uint32_t AttributesFor(const FolderEntry& file);

}  // namespace winqor
