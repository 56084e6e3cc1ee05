// Turns a folder on disk into a record stream: the root's record first (empty name), each
// folder's record before those of its subfolders, every folder followed by its files, names
// sorted by their UTF-16 units so that the same tree always gives the same stream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder.h"

namespace winqor {

// What happened, and where: a path below the root (empty for the root itself) with '/' between its
// parts, shown as UTF-8 with any byte that is not printable UTF-8 written as \xNN.
struct WalkMessage {
    std::string what;
    std::string where;
};

struct TreeWalkOptions {
    // A file that the walk leaves out, with a warning: the archive being written.
    std::optional<FileId> leaveOut;
};

struct TreeWalkResult {
    std::vector<uint8_t> records;
    // Things left out: symbolic links, devices, pipes and sockets, the archive itself.
    std::vector<WalkMessage> warnings;
    // Why the tree cannot be packed, when WalkTree returns false.
    WalkMessage error;
    uint32_t folders = 0;  // the root included
    uint32_t files = 0;
};

// Walks the folder at root (a link there is followed: the caller chose it) and builds its
// record stream. false, with result.error set, when a folder or file cannot be read, a name
// is not UTF-8 or holds '\' or ':' (no reader accepts those), a file is larger than an
// archive holds, or the stream would exceed 10,485,504 bytes.
bool WalkTree(const std::string& root, const TreeWalkOptions& options, TreeWalkResult& result);

// Attributes of a file record: 0x20, or 0x21 when its owner may not write it.
uint32_t AttributesFor(const FolderEntry& file);

}  // namespace winqor
