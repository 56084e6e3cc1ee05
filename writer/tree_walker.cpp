#include "writer/tree_walker.h"

#include <algorithm>
#include <utility>

#include "format/archive_header.h"
#include "format/record_stream.h"
#include "base/temporary_name.h"
#include "base/text.h"
#include "writer/file_time.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

// The record stream's limit: what a header's unpackedSize may say.
constexpr uint64_t kStreamLimit = kMaxPayloadSize;

struct PlannedFile {
    std::u16string name;
    std::string native;  // the system's name in its folder
    std::string where;
    uint32_t attributes = 0;
    uint64_t fileTime = 0;
    std::optional<uint32_t> permissions;
};

struct PlannedFolder {
    std::u16string recordName;  // "", "\\a", "\\a\\b"
    std::string native;         // the system's name in its parent; empty for the root
    std::string where;
    FileId id;          // as listed: the folder read later must be this one
    size_t parent = 0;  // index of the parent folder (the root's is its own)
    std::vector<PlannedFile> files;
};

std::string JoinWhere(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "/" + name;
}

struct Subfolder {
    std::u16string name;
    std::string native;
    FileId id;
};

class TreePlanner {
  public:
    TreePlanner(const TreeWalkOptions& options, TreeWalkResult& result, WalkMessage& error)
        : options_(options), result_(result), error_(error) {}

    bool PlanFolder(const FolderHandle& handle, PlannedFolder folder);
    std::vector<PlannedFolder>& folders() { return folders_; }
    uint64_t streamBytes() const { return streamBytes_; }

  private:
    bool Fail(std::string what, const std::string& where) {
        error_ = {std::move(what), where};
        return false;
    }
    bool AcceptName(const FolderEntry& entry, const std::string& where, std::u16string& name);
    bool Include(const FolderEntry& entry, const std::string& where);
    uint64_t StoredTime(const FolderEntry& file) const;
    bool AddBytes(uint64_t bytes, const std::string& where);
    bool ListSorted(const FolderHandle& handle, const std::string& where,
                    std::vector<FolderEntry>& entries);
    bool PlanEntry(const FolderEntry& entry, size_t folderIndex,
                   std::vector<Subfolder>& subfolders);
    bool PlanFile(const FolderEntry& entry, std::u16string name, std::string where,
                  size_t folderIndex);
    bool PlanSubfolder(const FolderHandle& parentHandle, size_t parent, const Subfolder& sub);

    const TreeWalkOptions& options_;
    TreeWalkResult& result_;
    WalkMessage& error_;
    std::vector<PlannedFolder> folders_;
    uint64_t streamBytes_ = 0;
};

bool TreePlanner::AcceptName(const FolderEntry& entry, const std::string& where,
                             std::u16string& name) {
    if (!Utf8ToUtf16(entry.name, name)) return Fail("a name that is not valid UTF-8", where);
    if (name.find_first_of(u"\\:") != std::u16string::npos) {
        return Fail("a name with '\\' or ':', which no reader accepts", where);
    }
    return true;
}

// Links, devices, pipes, sockets, the archive being written and what a killed extraction left
// behind are left out with a warning.
bool TreePlanner::Include(const FolderEntry& entry, const std::string& where) {
    if (entry.kind == EntryKind::kLink) {
        result_.warnings.push_back({"skipped a symbolic link", where});
    } else if (entry.kind == EntryKind::kSpecial) {
        result_.warnings.push_back({"skipped a device, pipe or socket", where});
    } else if (entry.kind == EntryKind::kFile && options_.leaveOut == entry.id) {
        result_.warnings.push_back({"left out the archive being written", where});
    } else if (entry.kind == EntryKind::kFile && IsExtractionTemporary(entry.name)) {
        result_.warnings.push_back(
            {"skipped the temporary file of an interrupted extraction (it may be deleted)", where});
    } else {
        return true;
    }
    return false;
}

uint64_t TreePlanner::StoredTime(const FolderEntry& file) const {
    if (options_.latestTime && file.modifiedSeconds >= *options_.latestTime) {
        return FileTimeFromUnixTime(*options_.latestTime, 0);
    }
    return FileTimeFromUnixTime(file.modifiedSeconds, file.modifiedNanoseconds);
}

bool TreePlanner::AddBytes(uint64_t bytes, const std::string& where) {
    streamBytes_ += bytes;
    if (streamBytes_ <= kStreamLimit) return true;
    return Fail("the folder holds more than an archive can carry (its records exceed " +
                    WithThousands(kStreamLimit) + " bytes from here on)",
                where);
}

bool TreePlanner::ListSorted(const FolderHandle& handle, const std::string& where,
                             std::vector<FolderEntry>& entries) {
    std::string reason;
    if (!handle.List(entries, reason)) {
        return Fail("cannot read the folder (" + reason + ")", where);
    }
    // Sorted so that warnings, and the first refusal, come in the same order every time.
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

bool TreePlanner::PlanFile(const FolderEntry& entry, std::u16string name, std::string where,
                           size_t folderIndex) {
    const uint64_t needs = RecordStreamBuilder::RecordOverhead(name) + entry.size;
    if (needs > kStreamLimit - RecordStreamBuilder::RecordOverhead(u"")) {
        return Fail("a file of " + WithThousands(entry.size) +
                        " bytes, too large for any archive (the records of an archive hold at "
                        "most " +
                        WithThousands(kStreamLimit) + " bytes)",
                    where);
    }
    if (!AddBytes(needs, where)) return false;
    folders_[folderIndex].files.push_back({std::move(name), entry.name, std::move(where),
                                           AttributesFor(entry), StoredTime(entry),
                                           entry.permissions});
    return true;
}

// A file is planned into its folder's group at once; a subfolder waits until the group is
// complete, since its own group follows.
bool TreePlanner::PlanEntry(const FolderEntry& entry, size_t folderIndex,
                            std::vector<Subfolder>& subfolders) {
    std::string where = JoinWhere(folders_[folderIndex].where, entry.name);
    if (options_.exclude.Excludes(where, entry.kind == EntryKind::kFolder)) return true;
    if (!Include(entry, where)) return true;
    std::u16string name;
    if (!AcceptName(entry, where, name)) return false;
    if (entry.kind == EntryKind::kFolder) {
        subfolders.push_back({std::move(name), entry.name, entry.id});
        return true;
    }
    return PlanFile(entry, std::move(name), std::move(where), folderIndex);
}

// The subfolder is opened from its parent, never through a link, and must be the folder that
// the parent's listing described.
bool TreePlanner::PlanSubfolder(const FolderHandle& parentHandle, size_t parent,
                                const Subfolder& sub) {
    PlannedFolder folder{folders_[parent].recordName + u"\\" + sub.name,
                         sub.native,
                         JoinWhere(folders_[parent].where, sub.native),
                         sub.id,
                         parent,
                         {}};
    FolderHandle handle;
    std::string reason;
    if (!handle.OpenChild(parentHandle, sub.native, sub.id, reason)) {
        return Fail("cannot read the folder (" + reason + ")", folder.where);
    }
    return PlanFolder(handle, std::move(folder));
}

bool TreePlanner::PlanFolder(const FolderHandle& handle, PlannedFolder folder) {
    std::vector<FolderEntry> entries;
    if (!ListSorted(handle, folder.where, entries)) return false;
    if (!AddBytes(RecordStreamBuilder::RecordOverhead(folder.recordName), folder.where)) {
        return false;
    }
    const size_t index = folders_.size();
    folders_.push_back(std::move(folder));
    std::vector<Subfolder> subfolders;
    for (const FolderEntry& entry : entries) {
        if (!PlanEntry(entry, index, subfolders)) return false;
    }
    std::sort(folders_[index].files.begin(), folders_[index].files.end(),
              [](const PlannedFile& a, const PlannedFile& b) { return a.name < b.name; });
    std::sort(subfolders.begin(), subfolders.end(),
              [](const Subfolder& a, const Subfolder& b) { return a.name < b.name; });
    for (const Subfolder& sub : subfolders) {
        if (!PlanSubfolder(handle, index, sub)) return false;
    }
    return true;
}

// The open folders from the root down to the one being read. Folders come parents first, so
// each is a child of one already open: the chain is cut back to its parent and grown by it.
class FolderChain {
  public:
    explicit FolderChain(FolderHandle root) { open_.emplace_back(0, std::move(root)); }

    // The handle of folders[index], valid until the next call; null with error set when the
    // folder is no longer the one listed.
    const FolderHandle* Enter(const std::vector<PlannedFolder>& folders, size_t index,
                              WalkMessage& error) {
        if (index == 0) return &open_.front().second;
        while (open_.back().first != folders[index].parent) open_.pop_back();
        FolderHandle child;
        std::string reason;
        if (!child.OpenChild(open_.back().second, folders[index].native, folders[index].id,
                             reason)) {
            error = {"cannot read the folder (" + reason + ")", folders[index].where};
            return nullptr;
        }
        open_.emplace_back(index, std::move(child));
        return &open_.back().second;
    }

  private:
    std::vector<std::pair<size_t, FolderHandle>> open_;
};

// Appends a file's content to the stream bytes, as long as the stream stays within the limit.
bool ReadInto(const FolderHandle& folder, const PlannedFile& file, std::vector<uint8_t>& bytes,
              WalkMessage& error) {
    const uint64_t room = bytes.size() > kStreamLimit ? 0 : kStreamLimit - bytes.size();
    std::string reason;
    switch (folder.ReadFile(file.native, room, bytes, reason)) {
        case ReadOutcome::kRead:
            return true;
        case ReadOutcome::kTooLarge:
            error = {
                "the file grew while it was read, and the folder no longer fits in an "
                "archive (" +
                    WithThousands(kStreamLimit) + " bytes of records)",
                file.where};
            return false;
        case ReadOutcome::kFailed:
            break;
    }
    error = {"cannot read the file (" + reason + ")", file.where};
    return false;
}

bool AddFolderFiles(const FolderHandle& handle, const PlannedFolder& folder,
                    RecordStreamBuilder& builder, TreeWalkResult& result, WalkMessage& error) {
    builder.AddDirectory(folder.recordName);
    for (const PlannedFile& file : folder.files) {
        const auto read = [&](std::vector<uint8_t>& bytes) {
            return ReadInto(handle, file, bytes, error);
        };
        if (!builder.AddFileFrom(file.name, file.attributes, file.fileTime, read,
                                 file.permissions)) {
            return false;
        }
        ++result.files;
    }
    return true;
}

// Reads every planned file into the stream. A file may have changed since it was listed:
// its record holds what is read now, and the stream must still fit.
bool ReadPlannedTree(FolderHandle root, const std::vector<PlannedFolder>& folders,
                     uint64_t plannedBytes, TreeWalkResult& result, WalkMessage& error) {
    RecordStreamBuilder builder;
    builder.Reserve(plannedBytes);
    FolderChain chain(std::move(root));
    for (size_t index = 0; index < folders.size(); ++index) {
        const FolderHandle* handle = chain.Enter(folders, index, error);
        if (handle == nullptr || !AddFolderFiles(*handle, folders[index], builder, result, error)) {
            return false;
        }
    }
    result.folders = static_cast<uint32_t>(folders.size());
    result.records = builder.TakeBytes();
    return true;
}

bool Walk(const std::string& root, const TreeWalkOptions& options, TreeWalkResult& result,
          WalkMessage& error) {
    FolderHandle rootHandle;
    std::string why;
    if (!rootHandle.Open(root, why)) {
        error = {"cannot read the folder (" + why + ")", ""};
        return false;
    }
    TreePlanner planner(options, result, error);
    if (!planner.PlanFolder(rootHandle, {})) return false;
    if (options.afterListing) options.afterListing();
    return ReadPlannedTree(std::move(rootHandle), planner.folders(), planner.streamBytes(), result,
                           error);
}

}  // namespace

uint32_t AttributesFor(const FolderEntry& file) {
    return kAttributeArchive | (file.ownerWritable ? 0 : kAttributeReadOnly);
}

std::string WalkPath(const std::string& root, const std::string& where) {
    if (where.empty()) return root;
    std::string folder = root;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return JoinNativePath(folder, where);
}

bool WalkTree(const std::string& root, const TreeWalkOptions& options, TreeWalkResult& result,
              std::string& reason) {
    result = {};
    WalkMessage error;
    if (Walk(root, options, result, error)) return true;
    reason = error.what + ": " + EscapeForDisplay(WalkPath(root, error.where));
    return false;
}

}  // namespace winqor
