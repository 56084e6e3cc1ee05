#include "engine/staged_tree.h"

#include <utility>

#include "base/limits.h"
#include "base/text.h"

namespace winqor {
namespace {

// The key of a path below the root: its components joined by a unit no name can hold.
constexpr char16_t kKeySeparator = u'\0';

std::vector<const char16_t*> Pointers(const std::vector<std::u16string>& components) {
    std::vector<const char16_t*> pointers;
    for (const auto& component : components) pointers.push_back(component.c_str());
    return pointers;
}

EnterResult EnterPath(FolderWalk& walk, const std::vector<std::u16string>& components,
                      uint32_t& reached, bool createLast = true) {
    const std::vector<const char16_t*> pointers = Pointers(components);
    return walk.Enter(pointers.data(), static_cast<uint32_t>(pointers.size()), reached, createLast);
}

}  // namespace

StagedTree::StagedTree() = default;

StagedTree::~StagedTree() {
    CloseOpened();
}

EnterResult StagedTree::Enter(FolderWalk& walk, const char16_t* const* components, uint32_t count,
                              uint32_t& reached) {
    std::vector<std::u16string> onDisk;
    std::u16string key;
    bool hidden = false;
    bool parentHidden = false;
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0) key += kKeySeparator;
        key += FoldedName(components[i]);
        parentHidden = hidden;
        const auto staged = staged_.find(key);
        onDisk.emplace_back(staged != staged_.end() ? staged->second : components[i]);
        hidden = hidden || staged != staged_.end();
    }
    const auto made = madeFolder_.find(key);
    if (count > 0 && made != madeFolder_.end() && !made->second) {
        reached = count - 1;  // a file of this walk has the name
        return EnterResult::kFailed;
    }
    const bool fresh = count > 0 && !hidden && !parentHidden;
    const EnterResult entered =
        fresh ? EnterNew(walk, onDisk, key, reached) : EnterPath(walk, onDisk, reached);
    if (entered != EnterResult::kEntered) return entered;
    current_ = std::move(onDisk);
    currentKey_ = std::move(key);
    currentHidden_ = hidden || staged_.count(currentKey_) != 0;
    if (parentHidden && made == madeFolder_.end()) {
        // Made below a hidden folder: removed with it, by name, should the walk be discarded.
        std::u16string name = current_.back();
        current_.pop_back();
        Add(Kind::kHiddenFolder, std::move(name));
        current_.push_back(entries_.back().name);
        madeFolder_[currentKey_] = true;
    }
    return entered;
}

// A folder below one that was there before: entered when it is there too, else made under a
// temporary name.
EnterResult StagedTree::EnterNew(FolderWalk& walk, std::vector<std::u16string>& onDisk,
                                 const std::u16string& key, uint32_t& reached) {
    std::u16string last = std::move(onDisk.back());
    onDisk.pop_back();
    // As the walk that writes at once: only the last component is made.
    EnterResult entered = EnterPath(walk, onDisk, reached, /*createLast=*/false);
    if (entered != EnterResult::kEntered) return entered;
    if (WhatNameHolds(walk.current(), last.c_str()) != NameHolds::kNothing) {
        onDisk.push_back(std::move(last));
        return EnterPath(walk, onDisk, reached);
    }
    std::u16string temporary = NewTemporaryName();
    onDisk.push_back(temporary);
    entered = EnterPath(walk, onDisk, reached);
    if (entered != EnterResult::kEntered) return entered;
    onDisk.pop_back();
    current_ = onDisk;
    Add(Kind::kStagedFolder, temporary);
    entries_.back().finalName = std::move(last);
    onDisk.push_back(temporary);
    staged_[key] = std::move(temporary);
    madeFolder_[key] = true;
    return entered;
}

std::u16string StagedTree::KeyOf(const char16_t* name) const {
    return currentKey_.empty() ? FoldedName(name) : currentKey_ + kKeySeparator + FoldedName(name);
}

bool StagedTree::MadeFolder(const char16_t* name) const {
    const auto made = madeFolder_.find(KeyOf(name));
    return made != madeFolder_.end() && made->second;
}

bool StagedTree::MadeFile(const char16_t* name) const {
    const auto made = madeFolder_.find(KeyOf(name));
    return made != madeFolder_.end() && !made->second;
}

void StagedTree::AddFile(const char16_t* name) {
    if (MadeFile(name)) return;  // the same file, written again
    Add(Kind::kHiddenFile, name);
    madeFolder_[KeyOf(name)] = false;
}

void StagedTree::AddParked(const char16_t* name, std::unique_ptr<ReplacingFile> file) {
    Add(Kind::kParkedFile, name);
    entries_.back().parked = std::move(file);
    madeFolder_[KeyOf(name)] = false;
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
        failedPath.clear();
        for (const auto& component : entry.folder) failedPath += component + kPathSeparator;
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
