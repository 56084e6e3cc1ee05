#include "writer/tree_walker.h"

#include <algorithm>

#include "format/archive_header.h"
#include "format/record_stream.h"
#include "platform/text.h"
#include "writer/file_time.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

// The record stream's limit: what a header's unpackedSize may say.
constexpr uint64_t kStreamLimit = kMaxPayloadSize;

struct PlannedFile {
    std::u16string name;
    std::string path;  // the system's path
    std::string shown;
    uint32_t attributes = 0;
    uint64_t fileTime = 0;
    uint64_t size = 0;
};

struct PlannedFolder {
    std::u16string recordName;  // "", "\\a", "\\a\\b"
    std::vector<PlannedFile> files;
};

std::string Hex(uint8_t byte) {
    static const char* digits = "0123456789abcdef";
    return std::string("\\x") + digits[byte >> 4] + digits[byte & 15];
}

// A name for messages: valid UTF-8 as it is (control characters escaped), otherwise every
// byte that is not ASCII escaped too, so that a terminal shows it safely.
std::string Shown(const std::string& name) {
    std::u16string ignored;
    const bool utf8 = Utf8ToUtf16(name, ignored);
    std::string shown;
    for (char c : name) {
        const auto byte = static_cast<uint8_t>(c);
        const bool escape = byte < 0x20 || byte == 0x7F || (!utf8 && byte >= 0x80);
        shown += escape ? Hex(byte) : std::string(1, c);
    }
    return shown;
}

std::string JoinShown(const std::string& parent, const std::string& name) {
    return parent.empty() ? Shown(name) : parent + "/" + Shown(name);
}

std::string WithThousands(uint64_t value) {
    std::string digits = std::to_string(value);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

struct Subfolder {
    std::u16string name;
    std::string native;
};

class TreePlanner {
  public:
    TreePlanner(const TreeWalkOptions& options, TreeWalkResult& result)
        : options_(options), result_(result) {}

    bool PlanFolder(const std::string& path, bool isRoot, const std::u16string& recordName,
                    const std::string& shown);
    std::vector<PlannedFolder>& folders() { return folders_; }
    uint64_t streamBytes() const { return streamBytes_; }

  private:
    bool Fail(std::string what, const std::string& where) {
        result_.error = {std::move(what), where};
        return false;
    }
    bool AcceptName(const FolderEntry& entry, const std::string& shown, std::u16string& name);
    bool Include(const FolderEntry& entry, const std::string& shown);
    bool AddBytes(uint64_t bytes, const std::string& shown);
    bool ListSorted(const std::string& path, bool isRoot, const std::string& shown,
                    std::vector<FolderEntry>& entries);
    bool PlanEntry(const FolderEntry& entry, const std::string& folderPath,
                   const std::string& folderShown, size_t folderIndex,
                   std::vector<Subfolder>& subfolders);
    bool PlanFile(const FolderEntry& entry, std::u16string name, std::string path,
                  const std::string& shown, size_t folderIndex);

    const TreeWalkOptions& options_;
    TreeWalkResult& result_;
    std::vector<PlannedFolder> folders_;
    uint64_t streamBytes_ = 0;
};

bool TreePlanner::AcceptName(const FolderEntry& entry, const std::string& shown,
                             std::u16string& name) {
    if (!Utf8ToUtf16(entry.name, name)) return Fail("a name that is not valid UTF-8", shown);
    if (name.find_first_of(u"\\:") != std::u16string::npos) {
        return Fail("a name with '\\' or ':', which no reader accepts", shown);
    }
    return true;
}

// Links, devices, pipes, sockets and the archive being written are left out with a warning.
bool TreePlanner::Include(const FolderEntry& entry, const std::string& shown) {
    if (entry.kind == EntryKind::kLink) {
        result_.warnings.push_back({"skipped a symbolic link", shown});
    } else if (entry.kind == EntryKind::kSpecial) {
        result_.warnings.push_back({"skipped a device, pipe or socket", shown});
    } else if (entry.kind == EntryKind::kFile && options_.leaveOut == entry.id) {
        result_.warnings.push_back({"left out the archive being written", shown});
    } else {
        return true;
    }
    return false;
}

bool TreePlanner::AddBytes(uint64_t bytes, const std::string& shown) {
    streamBytes_ += bytes;
    if (streamBytes_ <= kStreamLimit) return true;
    return Fail(
        "the folder holds more than an archive can carry (its records exceed "
        "10,485,504 bytes from here on)",
        shown);
}

bool TreePlanner::ListSorted(const std::string& path, bool isRoot, const std::string& shown,
                             std::vector<FolderEntry>& entries) {
    std::string reason;
    if (!ListFolder(path, isRoot, entries, reason)) {
        return Fail("cannot read the folder (" + reason + ")", shown);
    }
    // Sorted so that warnings, and the first refusal, come in the same order every time.
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

bool TreePlanner::PlanFile(const FolderEntry& entry, std::u16string name, std::string path,
                           const std::string& shown, size_t folderIndex) {
    const uint64_t needs = RecordStreamBuilder::RecordOverhead(name) + entry.size;
    if (needs > kStreamLimit - RecordStreamBuilder::RecordOverhead(u"")) {
        return Fail("a file of " + WithThousands(entry.size) +
                        " bytes, too large for any archive (the records of an archive hold at "
                        "most 10,485,504 bytes)",
                    shown);
    }
    if (!AddBytes(needs, shown)) return false;
    folders_[folderIndex].files.push_back(
        {std::move(name), std::move(path), shown, AttributesFor(entry),
         FileTimeFromUnixTime(entry.modifiedSeconds, entry.modifiedNanoseconds), entry.size});
    return true;
}

// A file is planned into its folder's group at once; a subfolder waits until the group is
// complete, since its own group follows.
bool TreePlanner::PlanEntry(const FolderEntry& entry, const std::string& folderPath,
                            const std::string& folderShown, size_t folderIndex,
                            std::vector<Subfolder>& subfolders) {
    const std::string shown = JoinShown(folderShown, entry.name);
    if (!Include(entry, shown)) return true;
    std::u16string name;
    if (!AcceptName(entry, shown, name)) return false;
    if (entry.kind == EntryKind::kFolder) {
        subfolders.push_back({std::move(name), entry.name});
        return true;
    }
    return PlanFile(entry, std::move(name), JoinNativePath(folderPath, entry.name), shown,
                    folderIndex);
}

bool TreePlanner::PlanFolder(const std::string& path, bool isRoot, const std::u16string& recordName,
                             const std::string& shown) {
    std::vector<FolderEntry> entries;
    if (!ListSorted(path, isRoot, shown, entries)) return false;
    if (!AddBytes(RecordStreamBuilder::RecordOverhead(recordName), shown)) return false;
    const size_t index = folders_.size();
    folders_.push_back({recordName, {}});
    std::vector<Subfolder> subfolders;
    for (const FolderEntry& entry : entries) {
        if (!PlanEntry(entry, path, shown, index, subfolders)) return false;
    }
    std::sort(folders_[index].files.begin(), folders_[index].files.end(),
              [](const PlannedFile& a, const PlannedFile& b) { return a.name < b.name; });
    std::sort(subfolders.begin(), subfolders.end(),
              [](const Subfolder& a, const Subfolder& b) { return a.name < b.name; });
    for (const Subfolder& subfolder : subfolders) {
        if (!PlanFolder(JoinNativePath(path, subfolder.native), false,
                        recordName + u"\\" + subfolder.name, JoinShown(shown, subfolder.native))) {
            return false;
        }
    }
    return true;
}

// Appends a file's content to the stream bytes, as long as the stream stays within the limit.
bool ReadInto(const PlannedFile& file, std::vector<uint8_t>& bytes, WalkMessage& error) {
    const uint64_t room = bytes.size() > kStreamLimit ? 0 : kStreamLimit - bytes.size();
    std::string reason;
    switch (ReadWholeFile(file.path, room, bytes, reason)) {
        case ReadOutcome::kRead:
            return true;
        case ReadOutcome::kTooLarge:
            error = {
                "the file grew while it was read, and the folder no longer fits in an "
                "archive (10,485,504 bytes of records)",
                file.shown};
            return false;
        case ReadOutcome::kFailed:
            break;
    }
    error = {"cannot read the file (" + reason + ")", file.shown};
    return false;
}

// Reads every planned file into the stream. A file may have changed since it was listed:
// its record holds what is read now, and the stream must still fit.
bool ReadPlannedTree(std::vector<PlannedFolder>& folders, uint64_t plannedBytes,
                     TreeWalkResult& result) {
    RecordStreamBuilder builder;
    builder.Reserve(plannedBytes);
    for (const PlannedFolder& folder : folders) {
        builder.AddDirectory(folder.recordName);
        for (const PlannedFile& file : folder.files) {
            if (!builder.AddFileFrom(file.name, file.attributes, file.fileTime,
                                     [&](std::vector<uint8_t>& bytes) {
                                         return ReadInto(file, bytes, result.error);
                                     })) {
                return false;
            }
            ++result.files;
        }
    }
    result.folders = static_cast<uint32_t>(folders.size());
    result.records = builder.TakeBytes();
    return true;
}

}  // namespace

uint32_t AttributesFor(const FolderEntry& file) {
    return kAttributeArchive | (file.ownerWritable ? 0 : kAttributeReadOnly);
}

bool WalkTree(const std::string& root, const TreeWalkOptions& options, TreeWalkResult& result) {
    result = {};
    TreePlanner planner(options, result);
    if (!planner.PlanFolder(root, true, u"", "")) return false;
    return ReadPlannedTree(planner.folders(), planner.streamBytes(), result);
}

}  // namespace winqor
