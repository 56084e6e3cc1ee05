// The output stage: walks the decoded record stream through the current directory. Each
// directory record makes its folder current and the files that follow are created there.
#include <algorithm>
#include <string>
#include <string_view>

#include "engine/archive_extractor.h"
#include "engine/confinement_probe.h"
#include "engine/file_ops.h"
#include "engine/record_names.h"
#include "format/archive_header.h"
#include "format/record_stream.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "platform/tree_writing.h"

namespace winqor {
namespace {

Failure FailureOfEnter(EnterResult result) {
    switch (result) {
        case EnterResult::kLinkRefused:
            return Failure::kLinkRefused;
        case EnterResult::kNotOwned:
            return Failure::kFolderNotOwned;
        case EnterResult::kWritableByOthers:
            return Failure::kFolderWritableByOthers;
        default:
            return Failure::kFolderFailed;
    }
}

// The execute bits a tagged record kept. The program the run starts is left to the run's own
// rule for it, whatever its record says.
uint32_t KeptExecuteBits(const RecordView& record, bool startedByTheRun) {
    return record.hasPermissions && !startedByTheRun ? record.permissions & kExecuteBits : 0;
}

Failure FailureOfRoot(OpenRootResult result) {
    switch (result) {
        case OpenRootResult::kLink:
            return Failure::kRootIsLink;
        case OpenRootResult::kNotOwned:
            return Failure::kRootNotOwned;
        case OpenRootResult::kWritableByOthers:
            return Failure::kRootWritableByOthers;
        default:
            return Failure::kRootFailed;
    }
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

int ArchiveExtractor::EnterRoot(const char16_t* folderPath, RootTrust trust) {
    CloseFolders();
    const OpenRootResult opened = OpenRootFolder(folderPath, trust, root_);
    trustBelowRoot_ =
        trust == RootTrust::kOwned ? FolderTrust::kOwnersOnly : TrustBelowChosenRoot();
    // The path is read back only to be shown; the walk goes from the descriptor.
    if (opened != OpenRootResult::kOpened || !MakeCurrent(root_) ||
        GetCurrentDirectory(folder_, kMaxPath) == 0 || !walk_.Start(root_, trustBelowRoot_)) {
        RecordFailure(FailureOfRoot(opened), folderPath == nullptr ? u"" : Utf16View(folderPath));
        CloseFolders();
        return 0;
    }
    return 1;
}

bool ArchiveExtractor::ReenterRoot() {
    return MakeCurrent(root_);
}

void ArchiveExtractor::CloseFolders() {
    walk_.Close();
    CloseDirectory(root_);
    root_ = kInvalidDirectory;
}

bool ArchiveExtractor::WatchedFileWritten(FileId& id) const {
    if (watchedWritten_) id = watchedId_;
    return watchedWritten_;
}

int ArchiveExtractor::ExtractToFolder(const char16_t* folderPath) {
    if (EnterRoot(folderPath) == 0) return 0;
    const int decoded = RunConfined([this] {
        const int result = DecodePayload();
        // A name that would be refused, anywhere in the stream, is found before the first write.
        if (result != 0 && CheckRecords() != 0) OutputArchive();
        return result;
    });
    CloseFolders();
    return decoded;
}

void ArchiveExtractor::RecordMalformed() {
    const uint32_t offset = output_ ? output_->position : 0;
    std::string where = "the record at byte " + std::to_string(offset) + " of the stream";
    RecordFailure(Failure::kMalformedRecord, std::u16string(where.begin(), where.end()));
}

bool ArchiveExtractor::CopyNameOrFail(const RecordView& record, char16_t* name) {
    if (CopyRecordName(record, name, kMaxPath)) return true;
    RecordFailure(Failure::kPathTooLong);
    return false;
}

int ArchiveExtractor::CheckRecords(RecordSink* sink) {
    AcceptingSink accepting;
    RecordSink* const previous = sink_;
    sink_ = sink != nullptr ? sink : &accepting;
    traced_ = false;
    const int checked = OutputArchive();
    traced_ = true;
    sink_ = previous;
    RewindOutput();
    return checked;
}

int ArchiveExtractor::OutputArchive() {
    uint32_t remaining = unpackedSize_;
    // The walk never reads past the decoded block, whatever the header now says.
    if (!output_ || output_->data == nullptr || remaining > output_->capacity - output_->position) {
        RecordMalformed();
        DebugPrint(u"qorOutputArchive:unexpected error\n");
        return 0;
    }
    if (sink_ == nullptr) ProbeConfinement();
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

uint32_t ArchiveExtractor::OutputDirectory(uint32_t remaining) {
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
    output_->position += head;
    const uint32_t fileBytes = record.size - head;
    if (fileBytes == 0) return head;
    return OutputFiles(fileBytes) == fileBytes ? fileBytes + head : 0;
}

bool ArchiveExtractor::ReadDirectoryRecord(uint32_t remaining, RecordView& record, char16_t* name) {
    const uint32_t available = std::min(remaining, output_->capacity - output_->position);
    if (!ReadRecord(output_->data + output_->position, available, record) ||
        !record.terminatorIsLast || record.size < RecordHeadBytes(record) ||
        record.size > remaining) {
        RecordMalformed();
        return false;
    }
    return CopyNameOrFail(record, name);
}

bool ArchiveExtractor::ResolveDirectory(const char16_t* name, char16_t* joined, char16_t* parts,
                                        const char16_t** components, uint32_t& count) {
    // The components point into their own copy: the name itself stays whole for the join.
    std::copy(name, name + Utf16Length(name) + 1, parts);
    if (!SplitDirectoryName(parts, components, kMaxPath / 2, count)) {
        RecordFailure(Failure::kUnsafeName, Utf16View(name));
        return false;
    }
    // A name that does not fit leaves the base alone: the group must not land in the root
    // (the root record itself belongs there).
    if (!JoinPathFits(folder_, joined, name) && count > 0) {
        DebugPrint(u"winqor: the path is too long: %s%s\n", folder_, name);
        RecordFailure(Failure::kPathTooLong, Utf16View(name));
        return false;
    }
    return true;
}

bool ArchiveExtractor::EnterDirectory(const char16_t* joined, const char16_t* const* components,
                                      uint32_t count) {
    if (sink_ != nullptr) {
        if (sink_->Directory(joined, components, count)) return true;
        RecordFailure(Failure::kFolderFailed, Utf16View(joined));
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
void ArchiveExtractor::RecordEnterFailure(EnterResult result, const char16_t* const* components,
                                          uint32_t count, uint32_t reached) {
    std::u16string path(Utf16View(folder_));
    for (uint32_t i = 0; i < count && i <= reached; ++i) {
        if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
        path += Utf16View(components[i]);
    }
    RecordFailure(FailureOfEnter(result), path);
}

uint32_t ArchiveExtractor::OutputFiles(uint32_t expected) {
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

uint32_t ArchiveExtractor::OutputFile() {
    RecordView record;
    const uint32_t available = output_->capacity - output_->position;
    char16_t name[kMaxPath];
    if (!ReadRecord(output_->data + output_->position, available, record) ||
        record.size > available - RecordHeadBytes(record)) {
        RecordMalformed();
        return 0;
    }
    if (!CopyNameOrFail(record, name)) return 0;
    if (!IsSafeFileName(name)) {
        RecordFailure(Failure::kUnsafeName, Utf16View(name));
        return 0;
    }
    if (traced_) DebugPrint(u"%s\t\tfilesize = %d\n", name, static_cast<int>(record.size));
    if (!WriteFileContent(name, record)) return 0;
    output_->position += record.size;
    return record.size + static_cast<uint32_t>(RecordHeadBytes(record));
}

bool ArchiveExtractor::WriteFileContent(const char16_t* name, const RecordView& record) {
    const auto head = static_cast<uint32_t>(RecordHeadBytes(record));
    const uint8_t* content = output_->data + output_->position + head;
    if (sink_ != nullptr) {
        const auto permissions =
            record.hasPermissions ? std::optional<uint32_t>(record.permissions) : std::nullopt;
        if (!sink_->File(name, record.attributes, permissions, content, record.size)) {
            RecordFailure(Failure::kCreateFailed, Utf16View(name));
            return false;
        }
        output_->position += head;
        return true;
    }
    output_->position += head;
    return ReplaceFile(name, content, record);
}

bool ArchiveExtractor::ReplaceFile(const char16_t* name, const uint8_t* content,
                                   const RecordView& record) {
    ReplacingFile file;
    if (!CreateOutputFile(walk_.current(), name, file)) {
        RecordFailure(Failure::kCreateFailed, CurrentPathOf(name));
        return false;
    }
    // The content is written in one call straight from the decoded block. A file that is not
    // complete never takes its name: the entry there stays as it was.
    const uint32_t written = record.size == 0 ? 0 : WriteBytes(file.handle(), content, record.size);
    if (written != record.size) {
        file.Abandon();
        RecordFailure(Failure::kWriteFailed, CurrentPathOf(name));
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

void ArchiveExtractor::RecordFileFailure(ReplacingFile::Outcome outcome, const char16_t* name) {
    const bool blocked = outcome == ReplacingFile::Outcome::kFolderInTheWay;
    RecordFailure(blocked ? Failure::kFolderInTheWay : Failure::kCreateFailed, CurrentPathOf(name));
}

std::u16string ArchiveExtractor::CurrentPathOf(const char16_t* name) const {
    std::u16string path = currentPath_;
    if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
    return path + std::u16string(Utf16View(name));
}

}  // namespace winqor
