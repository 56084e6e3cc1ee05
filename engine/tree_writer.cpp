#include "engine/tree_writer.h"

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
uint32_t KeptExecuteBits(const RecordView& record, bool startedByTheRun) {
    return record.hasPermissions && !startedByTheRun ? record.permissions & kExecuteBits : 0;
}

// Takes every record and writes nothing: the walk's own checks decide.
class AcceptingSink : public RecordSink {
  public:
    bool Directory(const char16_t*, const char16_t* const*, uint32_t) override { return true; }
    bool File(const char16_t*, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t) override {
        return true;
    }
};

}  // namespace

TreeWriter::TreeWriter(DecodedArchive& archive, ExtractionReport& report)
    : archive_(archive), report_(report) {
    folder_[0] = 0;
}

TreeWriter::~TreeWriter() {
    CloseFolders();
}

int TreeWriter::EnterRoot(const char16_t* folderPath, RootTrust trust) {
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

bool TreeWriter::AdoptRoot(DirectoryHandle root, std::u16string_view path, RootTrust trust,
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

void TreeWriter::CloseFolders() {
    walk_.Close();
    CloseDirectory(root_);
    root_ = kInvalidDirectory;
}

bool TreeWriter::WatchedFileWritten(FileId& id) const {
    if (watchedWritten_) id = watchedId_;
    return watchedWritten_;
}

void TreeWriter::NoteWatchedFile(const FileId& id) {
    watchedId_ = id;
    watchedWritten_ = true;
}

void TreeWriter::RecordMalformed() {
    const uint32_t offset = archive_.output() != nullptr ? stream().position : 0;
    std::string where = "the record at byte " + std::to_string(offset) + " of the stream";
    report_.RecordFailure(Failure::kMalformedRecord, WidenAscii(where));
}

bool TreeWriter::CopyNameOrFail(const RecordView& record, char16_t* name) {
    if (CopyRecordName(record, name, kMaxPath)) return true;
    report_.RecordFailure(Failure::kPathTooLong);
    return false;
}

int TreeWriter::CheckRecords(RecordSink* sink) {
    AcceptingSink accepting;
    RecordSink* const previous = sink_;
    sink_ = sink != nullptr ? sink : &accepting;
    traced_ = false;
    const int checked = OutputArchive();
    traced_ = true;
    sink_ = previous;
    archive_.RewindOutput();
    return checked;
}

int TreeWriter::OutputArchive() {
    uint32_t remaining = archive_.unpackedSize();
    // The walk never reads past the decoded block, whatever the header now says.
    const ByteBuffer* out = archive_.output();
    if (out == nullptr || out->data == nullptr || remaining > out->capacity - out->position) {
        RecordMalformed();
        DebugPrint(u"qorOutputArchive:unexpected error\n");
        return 0;
    }
    // Every front end writes through here: a tree the disk cannot hold is refused whole.
    if (sink_ == nullptr && !HasRoomForTree()) return 0;
    if (sink_ == nullptr) CurrentExtractionHooks().OutputAboutToWrite();
    while (remaining > 0) {
        const uint32_t consumed = OutputDirectory(remaining);
        if (consumed == 0 || consumed > remaining) {
            RecordMalformed();
            DebugPrint(u"qorOutputArchive:unexpected error\n");
            return 0;
        }
        remaining -= consumed;
    }
    return 1;
}

uint32_t TreeWriter::OutputDirectory(uint32_t remaining) {
    RecordView record;
    char16_t name[kMaxPath];
    char16_t joined[kMaxPath];
    char16_t parts[kMaxPath];
    const char16_t* components[kMaxPath / 2];
    uint32_t count = 0;
    if (!ReadDirectoryRecord(remaining, record, name) ||
        !ResolveDirectory(name, joined, parts, components, count)) {
        return 0;
    }
    if (traced_) DebugPrint(u"OutputFolder:%s\n", joined);
    if (!EnterDirectory(joined, components, count)) return 0;
    const auto head = static_cast<uint32_t>(RecordHeadBytes(record));
    stream().position += head;
    const uint32_t fileBytes = record.size - head;
    if (fileBytes == 0) return head;
    return OutputFiles(fileBytes) == fileBytes ? fileBytes + head : 0;
}

bool TreeWriter::ReadDirectoryRecord(uint32_t remaining, RecordView& record, char16_t* name) {
    const uint32_t available = std::min(remaining, stream().capacity - stream().position);
    if (!ReadRecord(stream().data + stream().position, available, record) ||
        !record.terminatorIsLast || record.size < RecordHeadBytes(record) ||
        record.size > remaining) {
        RecordMalformed();
        return false;
    }
    return CopyNameOrFail(record, name);
}

bool TreeWriter::ResolveDirectory(const char16_t* name, char16_t* joined, char16_t* parts,
                                  const char16_t** components, uint32_t& count) {
    // The components point into their own copy: the name itself stays whole for the join.
    std::copy(name, name + Utf16Length(name) + 1, parts);
    if (!SplitDirectoryName(parts, components, kMaxPath / 2, count)) {
        report_.RecordFailure(Failure::kUnsafeName, Utf16View(name));
        return false;
    }
    // A name that does not fit leaves the base alone: the group must not land in the root
    // (the root record itself belongs there).
    if (!JoinPathFits(folder_, joined, name) && count > 0) {
        DebugPrint(u"winqor: the path is too long: %s%s\n", folder_, name);
        report_.RecordFailure(Failure::kPathTooLong, Utf16View(name));
        return false;
    }
    return true;
}

bool TreeWriter::EnterDirectory(const char16_t* joined, const char16_t* const* components,
                                uint32_t count) {
    if (sink_ != nullptr) {
        if (sink_->Directory(joined, components, count)) return true;
        report_.RecordFailure(Failure::kFolderFailed, Utf16View(joined));
        return false;
    }
    uint32_t reached = 0;
    const EnterResult entered = walk_.Enter(components, count, reached);
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
void TreeWriter::RecordEnterFailure(EnterResult result, const char16_t* const* components,
                                    uint32_t count, uint32_t reached) {
    std::u16string path(Utf16View(folder_));
    for (uint32_t i = 0; i < count && i <= reached; ++i) {
        if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
        path += Utf16View(components[i]);
    }
    report_.RecordFailure(FailureOf(result, kEnterRefusals, Failure::kFolderFailed), path);
}

uint32_t TreeWriter::OutputFiles(uint32_t expected) {
    uint32_t left = expected;
    while (left > 0) {
        const uint32_t consumed = OutputFile();
        if (consumed == 0) return 0;
        if (consumed > left) {
            RecordMalformed();
            return 0;
        }
        left -= consumed;
    }
    return expected;
}

uint32_t TreeWriter::OutputFile() {
    RecordView record;
    const uint32_t available = stream().capacity - stream().position;
    char16_t name[kMaxPath];
    if (!ReadRecord(stream().data + stream().position, available, record) ||
        record.size > available - RecordHeadBytes(record)) {
        RecordMalformed();
        return 0;
    }
    if (!CopyNameOrFail(record, name)) return 0;
    if (!IsSafeFileName(name)) {
        report_.RecordFailure(Failure::kUnsafeName, Utf16View(name));
        return 0;
    }
    if (traced_) DebugPrint(u"%s\t\tfilesize = %d\n", name, static_cast<int>(record.size));
    if (!WriteFileContent(name, record)) return 0;
    stream().position += record.size;
    return record.size + static_cast<uint32_t>(RecordHeadBytes(record));
}

bool TreeWriter::WriteFileContent(const char16_t* name, const RecordView& record) {
    const auto head = static_cast<uint32_t>(RecordHeadBytes(record));
    const uint8_t* content = stream().data + stream().position + head;
    if (sink_ != nullptr) {
        const auto permissions =
            record.hasPermissions ? std::optional<uint32_t>(record.permissions) : std::nullopt;
        if (!sink_->File(name, record.attributes, permissions, content, record.size)) {
            report_.RecordFailure(Failure::kCreateFailed, Utf16View(name));
            return false;
        }
        stream().position += head;
        return true;
    }
    stream().position += head;
    return ReplaceFile(name, content, record);
}

bool TreeWriter::ReplaceFile(const char16_t* name, const uint8_t* content,
                             const RecordView& record) {
    ReplacingFile file;
    if (!CreateOutputFile(walk_.current(), name, file)) {
        report_.RecordFailure(Failure::kCreateFailed, CurrentPathOf(name));
        return false;
    }
    // The content is written in one call straight from the decoded block. A file that is not
    // complete never takes its name: the entry there stays as it was.
    const uint32_t written = record.size == 0 ? 0 : WriteBytes(file.handle(), content, record.size);
    if (written != record.size) {
        file.Abandon();
        report_.RecordFailure(Failure::kWriteFailed, CurrentPathOf(name));
        return false;
    }
    const bool watched = inRoot_ && !watchedName_.empty() && Utf16View(name) == watchedName_;
    FileId id;
    if (watched && !file.Identify(id)) file.Abandon();
    const ReplacingFile::Outcome outcome =
        FinishOutputFile(file, record.attributes, KeptExecuteBits(record, watched),
                         /*ownerOnlyWrite=*/!watchedName_.empty());
    if (outcome != ReplacingFile::Outcome::kDone) {
        RecordFileFailure(outcome, name);
        return false;
    }
    if (watched) {
        watchedId_ = id;
        watchedWritten_ = true;
    }
    return true;
}

void TreeWriter::RecordFileFailure(ReplacingFile::Outcome outcome, const char16_t* name) {
    const bool blocked = outcome == ReplacingFile::Outcome::kFolderInTheWay;
    report_.RecordFailure(blocked ? Failure::kFolderInTheWay : Failure::kCreateFailed,
                          CurrentPathOf(name));
}

std::u16string TreeWriter::CurrentPathOf(const char16_t* name) const {
    std::u16string path = currentPath_;
    if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
    return path + std::u16string(Utf16View(name));
}

}  // namespace winqor
