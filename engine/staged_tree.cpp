#include "engine/staged_tree.h"

#include <utility>

#include "base/limits.h"
#include "base/text.h"

namespace winqor {
namespace {

// A path below the root is held as its components, each followed by a zero unit (which no name
// holds): "a\0b\0" for a/b, "" for the root. Keys are paths of names in the system's folded
// form.
constexpr char16_t kEnd = u'\0';

void Append(std::u16string& path, std::u16string_view component) {
    path.append(component);
    path.push_back(kEnd);
}

// Where the path's last component starts.
size_t LastStart(const std::u16string& path) {
    const size_t end = path.rfind(kEnd, path.size() - 2);
    return end == std::u16string::npos ? 0 : end + 1;
}

std::vector<const char16_t*> Pointers(const std::u16string& path) {
    std::vector<const char16_t*> pointers;
    for (size_t at = 0; at < path.size(); at = path.find(kEnd, at) + 1) {
        pointers.push_back(path.c_str() + at);
    }
    return pointers;
}

EnterResult EnterPath(FolderWalk& walk, const std::u16string& path, uint32_t& reached,
                      bool createLast = true) {
    const std::vector<const char16_t*> pointers = Pointers(path);
    return walk.Enter(pointers.data(), static_cast<uint32_t>(pointers.size()), reached, createLast);
}

}  // namespace

StagedTree::StagedTree() = default;

StagedTree::~StagedTree() {
    CloseOpened();
}

EnterResult StagedTree::Enter(FolderWalk& walk, const char16_t* const* components, uint32_t count,
                              uint32_t& reached) {
    std::u16string onDisk;
    std::u16string key;
    bool hidden = false;
    bool parentHidden = false;
    for (uint32_t i = 0; i < count; ++i) {
        Append(key, FoldedName(components[i]));
        parentHidden = hidden;
        const Made* staged = Find(key);
        if (staged != nullptr && staged->temporary.empty()) staged = nullptr;
        Append(onDisk, staged != nullptr ? std::u16string_view(staged->temporary) : components[i]);
        hidden = hidden || staged != nullptr;
    }
    const Made* made = Find(key);
    if (count > 0 && made != nullptr && !made->folder) {
        reached = count - 1;  // a file of this walk has the name
        return EnterResult::kFailed;
    }
    const bool fresh = count > 0 && !hidden && !parentHidden;
    const EnterResult entered =
        fresh ? EnterNew(walk, onDisk, key, reached) : EnterPath(walk, onDisk, reached);
    if (entered != EnterResult::kEntered) return entered;
    currentKey_ = std::move(key);
    const Made* now = Find(currentKey_);  // a folder EnterNew made is there now
    currentHidden_ = hidden || (now != nullptr && !now->temporary.empty());
    if (parentHidden && made == nullptr) {
        // Made below a hidden folder: removed with it, by name, should the walk be discarded.
        const size_t last = LastStart(onDisk);
        current_ = onDisk.substr(0, last);
        Add(Kind::kHiddenFolder, onDisk.substr(last, onDisk.size() - last - 1));
        made_[currentKey_] = Made{true, {}};
    }
    current_ = std::move(onDisk);
    return entered;
}

// A folder below one that was there before: entered when it is there too, else made under a
// temporary name.
EnterResult StagedTree::EnterNew(FolderWalk& walk, std::u16string& onDisk,
                                 const std::u16string& key, uint32_t& reached) {
    const size_t lastStart = LastStart(onDisk);
    std::u16string last = onDisk.substr(lastStart, onDisk.size() - lastStart - 1);
    onDisk.resize(lastStart);
    // As the walk that writes at once: only the last component is made.
    EnterResult entered = EnterPath(walk, onDisk, reached, /*createLast=*/false);
    if (entered != EnterResult::kEntered) return entered;
    const bool there = WhatNameHolds(walk.current(), last.c_str()) != NameHolds::kNothing;
    std::u16string temporary = there ? std::u16string() : NewTemporaryName();
    current_ = onDisk;
    Append(onDisk, there ? last : temporary);
    entered = EnterPath(walk, onDisk, reached);
    if (there || entered != EnterResult::kEntered) return entered;
    Add(Kind::kStagedFolder, temporary);
    entries_.back().finalName = std::move(last);
    made_[key] = Made{true, std::move(temporary)};
    return entered;
}

std::u16string StagedTree::KeyOf(const char16_t* name) const {
    std::u16string key = currentKey_;
    Append(key, FoldedName(name));
    return key;
}

const StagedTree::Made* StagedTree::Find(const std::u16string& key) const {
    const auto made = made_.find(key);
    return made != made_.end() ? &made->second : nullptr;
}

bool StagedTree::MadeFolder(const char16_t* name) const {
    const Made* made = Find(KeyOf(name));
    return made != nullptr && made->folder;
}

bool StagedTree::MadeFile(const char16_t* name) const {
    const Made* made = Find(KeyOf(name));
    return made != nullptr && !made->folder;
}

void StagedTree::AddFile(const char16_t* name) {
    if (MadeFile(name)) return;  // the same file, written again
    Add(Kind::kHiddenFile, name);
    made_[KeyOf(name)] = Made{};
}

void StagedTree::AddParked(const char16_t* name, std::unique_ptr<ReplacingFile> file) {
    Add(Kind::kParkedFile, name);
    entries_.back().parked = std::move(file);
    made_[KeyOf(name)] = Made{};
}

void StagedTree::Add(Kind kind, std::u16string name) {
    entries_.push_back(Entry{kind, current_, std::move(name), {}, nullptr});
}

bool StagedTree::Commit(DirectoryHandle root, std::u16string& failedPath, bool& folderInTheWay) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (entry.kind != Kind::kParkedFile && entry.kind != Kind::kStagedFolder) continue;
        const DirectoryHandle folder = OpenFolderOf(root, entry);
        ReplacingFile::Outcome outcome = ReplacingFile::Outcome::kFailed;
        if (folder != kInvalidDirectory && entry.kind == Kind::kParkedFile) {
            outcome = entry.parked->CommitParked(folder);
        } else if (folder != kInvalidDirectory &&
                   RenameFolderEntry(folder, entry.name.c_str(), entry.finalName.c_str())) {
            outcome = ReplacingFile::Outcome::kDone;
        }
        if (outcome == ReplacingFile::Outcome::kDone) continue;
        folderInTheWay = outcome == ReplacingFile::Outcome::kFolderInTheWay;
        // The folder was there before: its path on the disk is the archive's.
        failedPath = entry.folder;
        for (char16_t& unit : failedPath) unit = unit == kEnd ? kPathSeparator : unit;
        failedPath += entry.kind == Kind::kParkedFile ? entry.name : entry.finalName;
        DiscardFrom(root, i);
        return false;
    }
    entries_.clear();
    CloseOpened();
    return true;
}

void StagedTree::Discard(DirectoryHandle root) {
    DiscardFrom(root, 0);
}

void StagedTree::DiscardFrom(DirectoryHandle root, size_t from) {
    while (entries_.size() > from) {
        Entry& entry = entries_.back();
        const DirectoryHandle folder = OpenFolderOf(root, entry);
        if (entry.kind == Kind::kParkedFile) {
            entry.parked->RemoveParked(folder);
        } else if (folder != kInvalidDirectory) {
            RemoveEntry(folder, entry.name.c_str(), entry.kind != Kind::kHiddenFile);
        }
        entries_.pop_back();
    }
    CloseOpened();
}

DirectoryHandle StagedTree::OpenFolderOf(DirectoryHandle root, const Entry& entry) {
    if (entry.folder.empty()) {
        // Windows removes and renames no folder that is current.
        CloseOpened();
        MakeCurrent(root);
        return root;
    }
    if (opened_ != kInvalidDirectory && openedPath_ == entry.folder) return opened_;
    CloseOpened();
    const std::vector<const char16_t*> pointers = Pointers(entry.folder);
    DirectoryHandle entered = kInvalidDirectory;
    if (EnterFolderBelow(root, pointers.data(), static_cast<uint32_t>(pointers.size()), entered,
                         /*createLast=*/false) != EnterResult::kEntered) {
        CloseDirectory(entered);
        return kInvalidDirectory;
    }
    opened_ = entered;
    openedPath_ = entry.folder;
    return opened_;
}

void StagedTree::CloseOpened() {
    CloseDirectory(opened_);
    opened_ = kInvalidDirectory;
    openedPath_.clear();
}

}  // namespace winqor
