// What a staged walk has put on the disk and where, so that nothing takes a name before the
// whole stream is proven: a folder the destination lacks is made under a temporary name in its
// parent (and everything below it under its own names, out of sight with it), and a file in a
// folder that was there before waits complete under a temporary name beside its own. Commit
// gives each its name in the order of the records; Discard removes all of it, the last made
// first, and leaves the destination as it was.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/tree_writing.h"

namespace winqor {

class StagedTree {
  public:
    StagedTree();
    ~StagedTree();
    StagedTree(const StagedTree&) = delete;
    StagedTree& operator=(const StagedTree&) = delete;

    // Enters the folder root/components..., made under a temporary name when it is new to a
    // folder that was there before (see FolderWalk::Enter for reached).
    EnterResult Enter(FolderWalk& walk, const char16_t* const* components, uint32_t count,
                      uint32_t& reached);
    // Whether the folder entered last is out of sight until Commit: its files take their
    // names at once.
    bool currentIsHidden() const { return currentHidden_; }
    // Whether this walk made name, in the folder entered last, a folder (or a file).
    bool MadeFolder(const char16_t* name) const;
    bool MadeFile(const char16_t* name) const;
    // A file written in the folder entered last: under its name in a hidden folder, or
    // parked beside its name (file.Park done).
    void AddFile(const char16_t* name);
    void AddParked(const char16_t* name, std::unique_ptr<ReplacingFile> file);

    // Gives everything its name; false when a name could not be taken, with that entry's
    // path below the root in failedPath and whether a folder had the name: what follows it is
    // discarded, what came before keeps its name.
    bool Commit(DirectoryHandle root, std::u16string& failedPath, bool& folderInTheWay);
    void Discard(DirectoryHandle root);
    bool empty() const { return entries_.empty(); }

  private:
    enum class Kind { kParkedFile, kHiddenFile, kStagedFolder, kHiddenFolder };
    struct Entry {
        Kind kind;
        std::u16string folder;     // on the disk (temporary names where they stand), joined
        std::u16string name;       // on the disk
        std::u16string finalName;  // a staged folder's own name
        std::unique_ptr<ReplacingFile> parked;
    };

    EnterResult EnterNew(FolderWalk& walk, std::u16string& onDisk, const std::u16string& key,
                         uint32_t& reached);
    void Add(Kind kind, std::u16string name);
    // The folder of entry, opened from root without following a link or making anything;
    // kInvalidDirectory when it is not there. The last one opened stays open for the next.
    DirectoryHandle OpenFolderOf(DirectoryHandle root, const Entry& entry);
    void CloseOpened();
    // Removes entries [from, end), the last first.
    void DiscardFrom(DirectoryHandle root, size_t from);
    std::u16string KeyOf(const char16_t* name) const;

    // A name this walk made: a folder or a file, and the temporary name of a folder made
    // under one.
    struct Made {
        bool folder = false;
        std::u16string temporary;
    };
    const Made* Find(const std::u16string& key) const;
    // Names this walk made, by their path below the root.
    std::map<std::u16string, Made> made_;
    std::vector<Entry> entries_;
    std::u16string current_;     // the folder entered last, on the disk, joined
    std::u16string currentKey_;  // and below the root
    bool currentHidden_ = false;
    std::u16string openedPath_;  // what OpenFolderOf opened last
    DirectoryHandle opened_ = kInvalidDirectory;
};

}  // namespace winqor
