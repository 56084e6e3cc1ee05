#include "engine/output_stage.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "base/text.h"
#include "engine/extraction_hooks.h"
#include "engine/file_ops.h"
#include "engine/record_names.h"
#include "format/archive_header.h"
#include "format/record_stream.h"
#include "platform/debug.h"
#include "platform/free_space.h"
#include "platform/tree_writing.h"

namespace winqor {
namespace {

// Maps a refusal of the platform to the failure it records; anything else is otherwise.
template <typename Result>
struct Refusal {
    Result result;
    Failure failure;
};

template <typename Result, size_t N>
Failure FailureOf(Result result, const Refusal<Result> (&refusals)[N], Failure otherwise) {
    for (const auto& refusal : refusals) {
        if (refusal.result == result) return refusal.failure;
    }
    return otherwise;
}

constexpr Refusal<EnterResult> kEnterRefusals[] = {
    {EnterResult::kLinkRefused, Failure::kLinkRefused},
    {EnterResult::kNotOwned, Failure::kFolderNotOwned},
    {EnterResult::kWritableByOthers, Failure::kFolderWritableByOthers},
};

constexpr Refusal<OpenRootResult> kRootRefusals[] = {
    {OpenRootResult::kLink, Failure::kRootIsLink},
    {OpenRootResult::kNotOwned, Failure::kRootNotOwned},
    {OpenRootResult::kWritableByOthers, Failure::kRootWritableByOthers},
};

// The execute bits a tagged record kept. The program the run starts is left to the run's own
// rule for it, whatever its record says.
uint32_t KeptExecuteBits(std::optional<uint32_t> permissions, bool startedByTheRun) {
    return permissions && !startedByTheRun ? *permissions & kExecuteBits : 0;
}

}  // namespace

OutputStage::OutputStage(DecodedArchive& archive, ExtractionReport& report)
    : archive_(archive), report_(report), records_(archive, report) {
    folder_[0] = 0;
    records_.SetBase(folder_);
}

OutputStage::~OutputStage() {
    CloseFolders();
}

int OutputStage::EnterRoot(const char16_t* folderPath, RootTrust trust) {
    CloseFolders();
    const OpenRootResult opened = OpenRootFolder(folderPath, trust, root_);
    trustBelowRoot_ =
        trust == RootTrust::kOwned ? FolderTrust::kOwnersOnly : TrustBelowChosenRoot();
    // The path is read back only to be shown; the walk goes from the descriptor.
    if (opened != OpenRootResult::kOpened || !MakeCurrent(root_) ||
        GetCurrentDirectory(folder_, kMaxPath) == 0 || !walk_.Start(root_, trustBelowRoot_)) {
        report_.RecordFailure(FailureOf(opened, kRootRefusals, Failure::kRootFailed),
                              folderPath == nullptr ? u"" : Utf16View(folderPath));
        CloseFolders();
        return 0;
    }
    uint64_t freeBytes = 0;
    freeBytes_ = FreeBytesFor(root_, freeBytes) ? std::optional<uint64_t>(freeBytes) : std::nullopt;
    return 1;
}

bool OutputStage::AdoptRoot(DirectoryHandle root, std::u16string_view path, RootTrust trust,
                            std::optional<uint64_t> freeBytes) {
    CloseFolders();
    // Measured where the root was entered: the walk that writes holds the disk to it.
    freeBytes_ = freeBytes;
    trustBelowRoot_ =
        trust == RootTrust::kOwned ? FolderTrust::kOwnersOnly : TrustBelowChosenRoot();
    if (path.size() >= kMaxPath) return false;
    path.copy(folder_, path.size());
    folder_[path.size()] = 0;
    root_ = root;
    return walk_.Start(root_, trustBelowRoot_);
}

void OutputStage::CloseFolders() {
    checkedRoom_.reset();
    writesAnnounced_ = false;
    walk_.Close();
    CloseDirectory(root_);
    root_ = kInvalidDirectory;
}

bool OutputStage::WatchedFileWritten(FileId& id) const {
    if (watchedWritten_) id = watchedId_;
    return watchedWritten_;
}

void OutputStage::NoteWatchedFile(const FileId& id) {
    watchedId_ = id;
    watchedWritten_ = true;
}

int OutputStage::OutputArchive() {
    // Every front end writes through here: a tree the disk cannot hold is refused whole.
    const bool room = HasRoomForTree();
    checkedRoom_.reset();
    if (!room) return 0;
    if (StageRecords(nullptr) == 0) {
        DiscardStaged();
        return 0;
    }
    return CommitStaged() ? 1 : 0;
}

void OutputStage::AnnounceWrites() {
    if (!writesAnnounced_) CurrentExtractionHooks().OutputAboutToWrite();
    writesAnnounced_ = true;
}

int OutputStage::StageRecords(DecodedPrefix* prefix) {
    AnnounceWrites();
    records_.SetTraced(true);
    records_.SetPrefix(prefix);
    staging_ = true;
    stagedRoom_ = 0;
    roomShort_ = false;
    const int walked = records_.Records(*this);
    staging_ = false;
    records_.SetPrefix(nullptr);
    return walked;
}

bool OutputStage::CommitStaged() {
    if (staged_.empty()) return true;
    // Windows renames no folder that is held open or current.
    walk_.Close();
    MakeCurrent(root_);
    std::u16string failed;
    bool inTheWay = false;
    const bool committed = staged_.Commit(root_, failed, inTheWay);
    if (!committed) {
        report_.RecordFailure(inTheWay ? Failure::kFolderInTheWay : Failure::kCreateFailed,
                              std::u16string(Utf16View(folder_)) + kPathSeparator + failed);
    }
    ReenterLastFolder();
    return committed;
}

void OutputStage::DiscardStaged() {
    watchedWritten_ = false;
    if (staged_.empty()) return;
    walk_.Close();
    MakeCurrent(root_);
    staged_.Discard(root_);
    ReenterLastFolder();
}

// Without making anything: a folder the walk entered may be gone with what was discarded.
void OutputStage::ReenterLastFolder() {
    std::vector<const char16_t*> components;
    for (const auto& component : lastFolder_) components.push_back(component.c_str());
    uint32_t reached = 0;
    if (!walk_.Start(root_, trustBelowRoot_) ||
        walk_.Enter(components.data(), static_cast<uint32_t>(components.size()), reached,
                    /*createLast=*/false) != EnterResult::kEntered) {
        lastFolder_.clear();
        MakeCurrent(root_);
    }
}

bool OutputStage::RoomFor(uint64_t bytes) {
    stagedRoom_ += bytes;
    if (!freeBytes_ || stagedRoom_ <= *freeBytes_) return true;
    roomShort_ = true;
    return false;
}

bool OutputStage::Directory(const char16_t* joined, const char16_t* const* components,
                            uint32_t count) {
    uint32_t reached = 0;
    if (staging_ && !RoomFor(kRoomPerEntry)) return false;
    const EnterResult entered = staging_ ? staged_.Enter(walk_, components, count, reached)
                                         : walk_.Enter(components, count, reached);
    if (entered == EnterResult::kEntered) {
        currentPath_ = Utf16View(joined);
        inRoot_ = count == 0;
        lastFolder_.assign(components, components + count);
        return true;
    }
    RecordEnterFailure(entered, components, count, reached);
    return false;
}

// Names the folder that failed: the one refused, which may lie above the record's own.
void OutputStage::RecordEnterFailure(EnterResult result, const char16_t* const* components,
                                     uint32_t count, uint32_t reached) {
    std::u16string path(Utf16View(folder_));
    for (uint32_t i = 0; i < count && i <= reached; ++i) {
        if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
        path += Utf16View(components[i]);
    }
    report_.RecordFailure(FailureOf(result, kEnterRefusals, Failure::kFolderFailed), path);
}

bool OutputStage::IsWatched(const char16_t* name) const {
    return inRoot_ && !watchedName_.empty() && Utf16View(name) == watchedName_;
}

bool OutputStage::File(const char16_t* name, uint32_t attributes,
                       std::optional<uint32_t> permissions, const uint8_t* content, uint32_t size) {
    if (staging_) return StageFile(name, attributes, permissions, content, size);
    ReplacingFile file;
    if (!WriteWhole(name, content, size, file)) return false;
    const bool watched = IsWatched(name);
    FileId id;
    if (watched && !file.Identify(id)) file.Abandon();
    const ReplacingFile::Outcome outcome =
        FinishOutputFile(file, attributes, KeptExecuteBits(permissions, watched),
                         /*ownerOnlyWrite=*/!watchedName_.empty());
    if (outcome != ReplacingFile::Outcome::kDone) {
        RecordFileFailure(outcome, name);
        return false;
    }
    if (watched) NoteWatchedFile(id);
    return true;
}

// In a folder made by this walk the file takes its name at once, out of sight with the folder;
// beside a name that was there before, it waits under its temporary name.
bool OutputStage::StageFile(const char16_t* name, uint32_t attributes,
                            std::optional<uint32_t> permissions, const uint8_t* content,
                            uint32_t size) {
    if (!RoomFor(kRoomPerEntry + uint64_t{size})) return false;
    if (staged_.MadeFolder(name) || (!staged_.currentIsHidden() &&
                                     WhatNameHolds(walk_.current(), name) == NameHolds::kFolder)) {
        RecordFileFailure(ReplacingFile::Outcome::kFolderInTheWay, name);
        return false;
    }
    if (staged_.currentIsHidden()) {
        staging_ = false;
        const bool written = File(name, attributes, permissions, content, size);
        staging_ = true;
        if (written) staged_.AddFile(name);
        return written;
    }
    auto file = std::make_unique<ReplacingFile>();
    if (!WriteWhole(name, content, size, *file)) return false;
    const bool watched = IsWatched(name);
    FileId id;
    if ((watched && !file->Identify(id)) ||
        !ParkOutputFile(*file, attributes, KeptExecuteBits(permissions, watched),
                        /*ownerOnlyWrite=*/!watchedName_.empty())) {
        file->Abandon();
        RecordFileFailure(ReplacingFile::Outcome::kFailed, name);
        return false;
    }
    if (watched) NoteWatchedFile(id);
    staged_.AddParked(name, std::move(file));
    return true;
}

bool OutputStage::WriteWhole(const char16_t* name, const uint8_t* content, uint32_t size,
                             ReplacingFile& file) {
    if (!CreateOutputFile(walk_.current(), name, file)) {
        report_.RecordFailure(Failure::kCreateFailed, CurrentPathOf(name));
        return false;
    }
    // The content is written in one call straight from the decoded block. A file that is not
    // complete never takes its name: the entry there stays as it was.
    const uint32_t written = size == 0 ? 0 : WriteBytes(file.handle(), content, size);
    if (written == size) return true;
    file.Abandon();
    report_.RecordFailure(Failure::kWriteFailed, CurrentPathOf(name));
    return false;
}

void OutputStage::RecordFileFailure(ReplacingFile::Outcome outcome, const char16_t* name) {
    const bool blocked = outcome == ReplacingFile::Outcome::kFolderInTheWay;
    report_.RecordFailure(blocked ? Failure::kFolderInTheWay : Failure::kCreateFailed,
                          CurrentPathOf(name));
}

std::u16string OutputStage::CurrentPathOf(const char16_t* name) const {
    std::u16string path = currentPath_;
    if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
    return path + std::u16string(Utf16View(name));
}

}  // namespace winqor
