// The output stage: turns the records of a decoded stream into folders and files below a root.
// The stream's one walk (RecordWalk) hands it each record: a directory record makes its folder
// the stage's current one, and the files that follow are created there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/limits.h"
#include "engine/decoded_archive.h"
#include "engine/extraction_report.h"
#include "engine/record_sink.h"
#include "engine/record_walk.h"
#include "engine/staged_tree.h"
#include "format/record_stream.h"
#include "platform/file.h"
#include "platform/tree_writing.h"

namespace winqor {

class OutputStage : private RecordSink {
  public:
    // Writes archive's decoded stream; failures go to report.
    OutputStage(DecodedArchive& archive, ExtractionReport& report);
    OutputStage(const OutputStage&) = delete;
    OutputStage& operator=(const OutputStage&) = delete;
    ~OutputStage() override;

    // Makes folderPath, opens it once as the root of the walk, makes it current and records
    // its path in folder; 1 on success. Everything below it is reached from that descriptor.
    // Below an owned root the walk takes only folders nobody else can write to; below a chosen
    // one, what TrustBelowChosenRoot says.
    int EnterRoot(const char16_t* folderPath, RootTrust trust = RootTrust::kChosen);
    // The bytes the tree's files take, plus this much for each folder and file: the blocks a
    // file's last bytes round up to, its directory entry.
    static constexpr uint64_t kRoomPerEntry = 4096;
    // Takes root, already open and current (entered by another OutputStage, here or in the
    // process that started this one), as the root of the walk; path is its path, for
    // messages. true when the walk can start there. The root stays the caller's: ReleaseRoot
    // gives it back before this stage closes its folders.
    bool AdoptRoot(DirectoryHandle root, std::u16string_view path, RootTrust trust,
                   std::optional<uint64_t> freeBytes);
    // The free space EnterRoot found below the root; none when it could not tell.
    std::optional<uint64_t> freeBytes() const { return freeBytes_; }
    void ReleaseRoot() { root_ = kInvalidDirectory; }
    // Closes the root and the folder of the walk; done when an extraction ends.
    void CloseFolders();
    // Walks the stream from its position and writes every record below folder, each traced
    // as it is written. Nothing takes its name before the walk has passed the whole stream
    // (see StagedTree); when it fails, what it wrote is removed.
    int OutputArchive();
    // The walk of OutputArchive, without the room check before it, on a stream that may still
    // be decoding (prefix; null: decoded), writing to the side: 1 when every record passed
    // and was written; CommitStaged then gives them their names, DiscardStaged removes them.
    // A walk that would need more room than EnterRoot found stops (roomShort()).
    int StageRecords(DecodedPrefix* prefix);
    // Tells the hooks that the walk is about to write: once for the root, however many times
    // the walk starts (StageRecords does, unless done before, on the thread that asks).
    void AnnounceWrites();
    bool CommitStaged();
    void DiscardStaged();
    bool roomShort() const { return roomShort_; }
    // The walk OutputArchive makes, with every check of its names and records and the root's
    // path in each joined path, but it writes nothing and sends no trace: each record goes to
    // sink (null: none). 1 when the whole stream passed; the walk's cursor is then back at the
    // stream's start, and the room the tree needs is known to the OutputArchive that follows.
    int CheckRecords(RecordSink* sink = nullptr);
    uint32_t OutputDirectory(uint32_t remaining) { return records_.Directory(remaining, *this); }
    uint32_t OutputFiles(uint32_t expected) { return records_.Files(expected, *this); }
    uint32_t OutputFile() { return records_.File(*this); }

    // The walk notes the identity of the file it writes with this name in the root, so that
    // a caller can tell that file from anything put there by someone else. That file is to be
    // started, and it may start any other: every file the walk writes is then writable by its
    // owner alone, whatever the umask.
    void WatchRootFile(std::u16string name) { watchedName_ = std::move(name); }
    // True, with its identity, when the walk wrote the watched file.
    bool WatchedFileWritten(FileId& id) const;
    // Notes that the watched file was written, by a walk in another process.
    void NoteWatchedFile(const FileId& id);

    // What the walk makes is writable by its owner alone: every file when a watched file is to
    // be started, every folder when the walk trusts only folders of their owner.
    bool ownerOnlyFiles() const { return !watchedName_.empty(); }
    bool ownerOnlyFolders() const { return trustBelowRoot_ == FolderTrust::kOwnersOnly; }

    DirectoryHandle rootFolder() const { return root_; }
    // The root's path, once EnterRoot made it current; empty before.
    const char16_t* folder() const { return folder_; }
    // The components, below the root, of the folder the walk entered last.
    const std::vector<std::u16string>& lastFolder() const { return lastFolder_; }

  private:
    // Before the first write: whether the free space EnterRoot found at the root holds the
    // records from the walk's position on. false, with kNoRoom recorded, when it does not; true
    // when the system could not say how much is free, or the records break the rules (the walk
    // then fails where it meets them).
    bool HasRoomForTree();
    // The room the records from the walk's position on need, walked without a word; none when
    // they break the rules.
    std::optional<uint64_t> TallyRecords();
    // What CheckRecords found, when the walk is where that check started, on the same stream.
    std::optional<uint64_t> CheckedRoom();
    // What the walk hands the stage: the folder entered (made if need be) and each of its
    // files written through a new file renamed over its name.
    bool Directory(const char16_t* joined, const char16_t* const* components,
                   uint32_t count) override;
    bool File(const char16_t* name, uint32_t attributes, std::optional<uint32_t> permissions,
              const uint8_t* content, uint32_t size) override;
    // Creates the new file beside name and writes all its content; false, recorded, when not.
    bool WriteWhole(const char16_t* name, const uint8_t* content, uint32_t size,
                    ReplacingFile& file);
    // The staged walk's side of Directory and File.
    bool StageFile(const char16_t* name, uint32_t attributes, std::optional<uint32_t> permissions,
                   const uint8_t* content, uint32_t size);
    // Counts what a staged record takes; false, roomShort_, once it passes the free space.
    bool RoomFor(uint64_t bytes);
    // The watched file's identity, when name in this folder is the watched file.
    bool IsWatched(const char16_t* name) const;
    // Back in the root after the folders' names changed, then in the folder entered last.
    void ReenterLastFolder();
    void RecordEnterFailure(EnterResult result, const char16_t* const* components, uint32_t count,
                            uint32_t reached);
    void RecordFileFailure(ReplacingFile::Outcome outcome, const char16_t* name);
    std::u16string CurrentPathOf(const char16_t* name) const;
    // The stream being walked: the archive's decoded records, which exist once a walk started.
    ByteBuffer& stream() { return *archive_.output(); }

    DecodedArchive& archive_;
    ExtractionReport& report_;
    char16_t folder_[kMaxPath];
    RecordWalk records_;
    // What CheckRecords found the tree needs, for an OutputArchive that follows it from the
    // start of the same stream.
    std::optional<uint64_t> checkedRoom_;
    const uint8_t* checkedStream_ = nullptr;
    DirectoryHandle root_ = kInvalidDirectory;
    // Taken by EnterRoot, in this process: the sandboxed child that writes needs no call for it.
    std::optional<uint64_t> freeBytes_;
    FolderTrust trustBelowRoot_ = FolderTrust::kAny;
    FolderWalk walk_;                         // its current folder: the group being written
    std::u16string currentPath_;              // its joined path, for messages
    bool inRoot_ = false;                     // the group being written is the root's
    std::vector<std::u16string> lastFolder_;  // the components of the folder entered last
    StagedTree staged_;
    bool staging_ = false;
    uint64_t stagedRoom_ = 0;
    bool roomShort_ = false;
    bool writesAnnounced_ = false;
    std::u16string watchedName_;
    FileId watchedId_;
    bool watchedWritten_ = false;
};

}  // namespace winqor
