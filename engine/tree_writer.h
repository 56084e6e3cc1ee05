// The output stage: walks a decoded record stream and turns it into folders and files below
// a root, or hands each record to a sink. Each directory record makes its folder the walk's
// current one and the files that follow are created there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/limits.h"
#include "engine/decoded_archive.h"
#include "engine/extraction_report.h"
#include "engine/record_sink.h"
#include "format/record_stream.h"
#include "platform/file.h"
#include "platform/tree_writing.h"

namespace winqor {

class TreeWriter {
  public:
    // Walks archive's decoded stream; failures go to report.
    TreeWriter(DecodedArchive& archive, ExtractionReport& report);
    TreeWriter(const TreeWriter&) = delete;
    TreeWriter& operator=(const TreeWriter&) = delete;
    ~TreeWriter();

    // Makes folderPath, opens it once as the root of the walk, makes it current and records
    // its path in folder; 1 on success. Everything below it is reached from that descriptor.
    // Below an owned root the walk takes only folders nobody else can write to; below a chosen
    // one, what TrustBelowChosenRoot says.
    int EnterRoot(const char16_t* folderPath, RootTrust trust = RootTrust::kChosen);
    // The bytes the tree's files take, plus this much for each folder and file: the blocks a
    // file's last bytes round up to, its directory entry.
    static constexpr uint64_t kRoomPerEntry = 4096;
    // Takes root, already open and current (entered by another TreeWriter, here or in the
    // process that started this one), as the root of the walk; path is its path, for
    // messages. true when the walk can start there. The root stays the caller's: ReleaseRoot
    // gives it back before this writer closes its folders.
    bool AdoptRoot(DirectoryHandle root, std::u16string_view path, RootTrust trust,
                   std::optional<uint64_t> freeBytes);
    // The free space EnterRoot found below the root; none when it could not tell.
    std::optional<uint64_t> freeBytes() const { return freeBytes_; }
    void ReleaseRoot() { root_ = kInvalidDirectory; }
    // Closes the root and the folder of the walk; done when an extraction ends.
    void CloseFolders();
    // Walks the stream from its position and writes every record below folder.
    int OutputArchive();
    // Walks the decoded records as OutputArchive does, with every check of its names and
    // records, but writes nothing and sends no trace: each record goes to sink (null: none).
    // 1 when the whole stream passed; the walk's cursor is back at the stream's start.
    int CheckRecords(RecordSink* sink = nullptr);
    uint32_t OutputDirectory(uint32_t remaining);
    uint32_t OutputFiles(uint32_t expected);
    uint32_t OutputFile();
    // Sends the walk's folders and files to sink instead of the disk (null: the disk).
    void SetSink(RecordSink* sink) { sink_ = sink; }

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
    bool TallyRecords(RecordSink& tally);
    // A name longer than any path the platform takes fails as too long.
    bool CopyNameOrFail(const RecordView& record, char16_t* name);
    bool ReadDirectoryRecord(uint32_t remaining, RecordView& record, char16_t* name);
    // Checks the name, joins it to folder, and splits it into components (pointing into parts).
    bool ResolveDirectory(const char16_t* name, char16_t* joined, char16_t* parts,
                          const char16_t** components, uint32_t& count);
    bool EnterDirectory(const char16_t* joined, const char16_t* const* components, uint32_t count);
    void RecordEnterFailure(EnterResult result, const char16_t* const* components, uint32_t count,
                            uint32_t reached);
    // Creates the file (or hands it to the sink) and writes all its content.
    bool WriteFileContent(const char16_t* name, const RecordView& record);
    // Writes the file through a new file renamed over its name.
    bool ReplaceFile(const char16_t* name, const uint8_t* content, const RecordView& record);
    void RecordFileFailure(ReplacingFile::Outcome outcome, const char16_t* name);
    std::u16string CurrentPathOf(const char16_t* name) const;
    void RecordMalformed();
    // The stream being walked: the archive's decoded records, which exist once a walk started.
    ByteBuffer& stream() { return *archive_.output(); }

    DecodedArchive& archive_;
    ExtractionReport& report_;
    char16_t folder_[kMaxPath];
    RecordSink* sink_ = nullptr;
    bool traced_ = true;  // the walk sends each folder and file to the debug channel
    DirectoryHandle root_ = kInvalidDirectory;
    // Taken by EnterRoot, in this process: the sandboxed child that writes needs no call for it.
    std::optional<uint64_t> freeBytes_;
    FolderTrust trustBelowRoot_ = FolderTrust::kAny;
    FolderWalk walk_;                         // its current folder: the group being written
    std::u16string currentPath_;              // its joined path, for messages
    bool inRoot_ = false;                     // the group being written is the root's
    std::vector<std::u16string> lastFolder_;  // the components of the folder entered last
    std::u16string watchedName_;
    FileId watchedId_;
    bool watchedWritten_ = false;
};

}  // namespace winqor
