// One extraction: an archive from its stored form to decoded records in memory, and from
// there to folders and files below a root.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_buffer.h"
#include "engine/record_sink.h"
#include "format/archive_header.h"
#include "format/record_stream.h"
#include "platform/file.h"
#include "platform/limits.h"
#include "platform/tree_writing.h"

namespace winqor {

class Bzip2Decoder;

// The decoder's own progress lines go to standard error at this verbosity (0 to 4; 4 unless
// the hosting program sets another).
void SetDecoderVerbosity(int verbosity);

// Why an operation failed. Recorded beside the result, which it never changes; the first
// failure of an extractor is kept.
enum class Failure {
    kNone,
    kOpenFailed,      // the archive file cannot be opened
    kShortHeader,     // fewer than 256 bytes
    kHeaderRejected,  // not an archive, or sizes out of range
    kOutOfMemory,
    kDecoderRefused,          // the library would not open a stream
    kShortPayload,            // the file ends before 256 + packedSize
    kDigestMismatch,          // damaged payload or wrong password
    kCorruptData,             // the library reported corrupt data
    kSizeMismatch,            // the stream's length differs from unpackedSize
    kRootFailed,              // the extraction root cannot be made or entered
    kMalformedRecord,         // the record stream breaks its rules
    kUnsafeName,              // a name that would leave the extraction root
    kPathTooLong,             // a joined path exceeds the platform's limit
    kLinkRefused,             // a symbolic link stands where a folder of the walk should be
    kFolderFailed,            // a folder cannot be created or entered
    kCreateFailed,            // a file cannot be created
    kWriteFailed,             // a file's content cannot be written completely
    kFolderInTheWay,          // a folder stands at a file's name
    kRootIsLink,              // the self-extracting run's output folder is a symbolic link
    kRootNotOwned,            // the self-extracting run's output folder belongs to another user
    kRootWritableByOthers,    // others can write to the self-extracting run's output folder
    kFolderNotOwned,          // a folder of the walk belongs to another user (a walk that asks)
    kFolderWritableByOthers,  // others can write to a folder of the walk (a walk that asks)
    kExtractionEnded,         // the sandboxed process ended, or was killed, before it reported
    kSandboxUnavailable,      // no sandboxed process could be started to read the archive
};

const char* DescribeFailure(Failure failure);

class ArchiveExtractor {
  public:
    ArchiveExtractor();
    ArchiveExtractor(const ArchiveExtractor&) = delete;
    ArchiveExtractor& operator=(const ArchiveExtractor&) = delete;
    // Closes the file, then destroys the decoder, the output and the input, in that order.
    virtual ~ArchiveExtractor();

    // 1 when the header was read and accepted and the whole payload is in input. The
    // extractor keeps its own copy of the header; the process-wide slots are not touched.
    int LoadFromFile(const char16_t* path);
    void CloseArchiveFile();
    // Copies header (null: none) as this extractor's header; 1 when it is accepted and both
    // buffers and the decoder exist. Called once per object.
    int ValidateHeader(const ArchiveHeader* header);
    // The digest of the accepted password of an encrypted archive (16 bytes), from which the
    // payload's key is derived. All zero until given.
    void SetPasswordDigest(const uint8_t* digest);
    // Deciphers input in place when the header says so, checks the digest, decompresses.
    int DecodePayload();
    // 1 when one decoder call produced exactly unpackedSize bytes.
    int Decompress();

    // Like LoadFromFile, from an image in memory of imageBytes bytes (an archive carried
    // inside a program): the header is copied, the payload to input.
    int LoadFromImage(const uint8_t* image, uint64_t imageBytes);
    // Takes a decoded record stream of size bytes as if DecodePayload had produced it, for a
    // walk of the records alone; 1 when it was copied.
    int UseDecodedStream(const uint8_t* stream, uint32_t size);

    // Makes folderPath, opens it once as the root of the walk, makes it current and records
    // its path in folder; 1 on success. Everything below it is reached from that descriptor.
    // Below an owned root the walk takes only folders nobody else can write to; below a chosen
    // one, what TrustBelowChosenRoot says.
    int EnterRoot(const char16_t* folderPath, RootTrust trust = RootTrust::kChosen);
    // Makes the root current again (the walk leaves the last folder it wrote current).
    bool ReenterRoot();
    // Closes the root and the folder of the walk; done when an extraction ends.
    void CloseFolders();
    // Gives up, for the whole process and for good, every power but writing below the root
    // (below nothing when there is none); says on the debug channel which walls stand.
    void ConfineToRoot();
    // Runs steps (which decode the archive and may write below the root) in a sandboxed child
    // confined to the root, and takes back their result, failure and watched file; text the
    // steps send with SendOutput reaches output. 0, with the failure recorded, when no child
    // can be started or it breaks the rules. Only where the system has no such child (Windows)
    // do the steps run here.
    int RunConfined(const std::function<int()>& steps,
                    const std::function<void(std::string_view)>& output = {});
    // From within the steps: text for the caller's standard output.
    void SendOutput(std::string_view text) const;
    // Makes and enters folderPath, decodes, and writes the records below it. DecodePayload's
    // result, or 0 when the folder cannot be made or entered; a failed walk does not change it.
    int ExtractToFolder(const char16_t* folderPath);
    // Walks output from its position and writes every record below folder.
    int OutputArchive();
    // Walks the decoded records as OutputArchive does, with every check of its names and
    // records, but writes nothing and sends no trace: each record goes to sink (null: none).
    // 1 when the whole stream passed; the walk's cursor is back at the stream's start.
    int CheckRecords(RecordSink* sink = nullptr);
    uint32_t OutputDirectory(uint32_t remaining);
    uint32_t OutputFiles(uint32_t expected);
    uint32_t OutputFile();

    // The self-extracting run: the archive is an image of imageBytes bytes, its header first
    // (the image's size is known here so that nothing past its end is read).
    int ExtractEmbedded(const uint8_t* image, uint64_t imageBytes);

    // Sends the walk's folders and files to sink instead of the disk (null: the disk).
    void SetSink(RecordSink* sink) { sink_ = sink; }

    // The walk notes the identity of the file it writes with this name in the root, so that
    // a caller can tell that file from anything put there by someone else. That file is to be
    // started, and it may start any other: every file the walk writes is then writable by its
    // owner alone, whatever the umask.
    void WatchRootFile(std::u16string name) { watchedName_ = std::move(name); }
    // True, with its identity, when the walk wrote the watched file.
    bool WatchedFileWritten(FileId& id) const;
    DirectoryHandle rootFolder() const { return root_; }

    // The exit status of the Setup.exe that a self-extracting run started; false when it
    // started none. Noted beside the run's result, which it does not change.
    bool SetupExitStatus(uint32_t& status) const;
    void RecordSetupExit(uint32_t status) {
        setupStarted_ = true;
        setupExitStatus_ = status;
    }

    Failure failure() const { return failure_; }
    // Where the failure happened: a path or a record name, empty when there is none.
    const std::u16string& failureWhere() const { return failureWhere_; }
    void RecordFailure(Failure failure, std::u16string_view where = {});

    // The header this extractor was given or read; null before one was.
    const ArchiveHeader* header() const { return hasHeader_ ? &header_ : nullptr; }
    uint32_t packedSize() const { return packedSize_; }
    uint32_t unpackedSize() const { return unpackedSize_; }
    // The decoded record stream; null before the buffers exist.
    const ByteBuffer* output() const { return output_.get(); }
    // Puts the walk's cursor back at the stream's start, for a second walk.
    void RewindOutput();
    bool ArchiveFileOpen() const { return archiveFile_ != kInvalidHandle; }
    // The root's path, once EnterRoot made it current; empty before.
    const char16_t* folder() const { return folder_; }

  private:
    // Copies the payload of an image holding payloadBytesAvailable bytes into input.
    int CopyPayload(const uint8_t* payload, uint64_t payloadBytesAvailable);
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
    bool TakeChildOutcome(std::string_view message, int& result);
    bool TakeChildMessage(std::string_view message, int& result, bool& reported,
                          const std::function<void(std::string_view)>& output);
    void WorkInChild(const std::function<int()>& steps,
                     const std::function<bool(std::string_view)>& send);
    void EnterLastFolder();
    void RecordMalformed();

    ArchiveHeader header_ = {};
    bool hasHeader_ = false;
    uint8_t passwordDigest_[16] = {};
    char16_t folder_[kMaxPath];
    std::unique_ptr<ByteBuffer> input_;
    std::unique_ptr<ByteBuffer> output_;
    uint32_t packedSize_ = 0;
    uint32_t unpackedSize_ = 0;
    std::unique_ptr<Bzip2Decoder> decoder_;
    FileHandle archiveFile_ = kInvalidHandle;
    RecordSink* sink_ = nullptr;
    bool traced_ = true;  // the walk sends each folder and file to the debug channel
    DirectoryHandle root_ = kInvalidDirectory;
    FolderTrust trustBelowRoot_ = FolderTrust::kAny;
    FolderWalk walk_;                         // its current folder: the group being written
    std::u16string currentPath_;              // its joined path, for messages
    bool inRoot_ = false;                     // the group being written is the root's
    std::vector<std::u16string> lastFolder_;  // the components of the folder entered last
    std::u16string watchedName_;
    FileId watchedId_;
    bool watchedWritten_ = false;
    bool setupStarted_ = false;
    uint32_t setupExitStatus_ = 0;
    Failure failure_ = Failure::kNone;
    std::u16string failureWhere_;
    std::function<void(std::string_view)> sendOutput_;  // where SendOutput's text goes
};

}  // namespace winqor
