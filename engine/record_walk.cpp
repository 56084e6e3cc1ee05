#include "engine/record_walk.h"

#include <algorithm>
#include <string>

#include "base/little_endian.h"
#include "base/text.h"
#include "engine/file_ops.h"
#include "engine/record_names.h"
#include "platform/debug.h"
#include "platform/tree_writing.h"

namespace winqor {

int RecordWalk::Records(RecordSink& sink) {
    uint32_t remaining = archive_.unpackedSize();
    // The walk never reads past the decoded block, whatever the header now says.
    const ByteBuffer* out = archive_.output();
    if (out == nullptr || out->data == nullptr || remaining > out->capacity - out->position) {
        RecordMalformed();
        DebugPrint(u"qorOutputArchive:unexpected error\n");
        return 0;
    }
    while (remaining > 0) {
        const uint32_t consumed = Directory(remaining, sink);
        if (stopped_) return 0;
        if (consumed == 0 || consumed > remaining) {
            RecordMalformed();
            DebugPrint(u"qorOutputArchive:unexpected error\n");
            return 0;
        }
        remaining -= consumed;
    }
    return 1;
}

uint32_t RecordWalk::Directory(uint32_t remaining, RecordSink& sink) {
    RecordView record;
    char16_t name[kMaxPath];
    char16_t joined[kMaxPath];
    char16_t parts[kMaxPath];
    const char16_t* components[kMaxPath / 2];
    uint32_t count = 0;
    if (!RecordHeadDecoded() || !ReadDirectoryRecord(remaining, record, name) ||
        !ResolveDirectory(name, joined, parts, components, count)) {
        return 0;
    }
    if (traced_) TraceFolder(joined, components, count);
    if (!sink.Directory(joined, components, count)) {
        report_.RecordFailure(Failure::kFolderFailed, Utf16View(joined));
        return 0;
    }
    const auto head = static_cast<uint32_t>(RecordHeadBytes(record));
    stream().position += head;
    const uint32_t fileBytes = record.size - head;
    if (fileBytes == 0) return head;
    return Files(fileBytes, sink) == fileBytes ? fileBytes + head : 0;
}

bool RecordWalk::ReadDirectoryRecord(uint32_t remaining, RecordView& record, char16_t* name) {
    const uint32_t available = std::min(remaining, stream().capacity - stream().position);
    if (!ReadRecord(stream().data + stream().position, available, record) ||
        !record.terminatorIsLast || record.size < RecordHeadBytes(record) ||
        record.size > remaining) {
        RecordMalformed();
        return false;
    }
    return CopyNameOrFail(record, name);
}

bool RecordWalk::CopyNameOrFail(const RecordView& record, char16_t* name) {
    if (CopyRecordName(record, name, kMaxPath)) return true;
    report_.RecordFailure(Failure::kPathTooLong);
    return false;
}

bool RecordWalk::ResolveDirectory(const char16_t* name, char16_t* joined, char16_t* parts,
                                  const char16_t** components, uint32_t& count) {
    // The components point into their own copy: the name itself stays whole for the join.
    std::copy(name, name + Utf16Length(name) + 1, parts);
    if (!SplitDirectoryName(parts, components, kMaxPath / 2, count)) {
        report_.RecordFailure(Failure::kUnsafeName, Utf16View(name));
        return false;
    }
    const char16_t* base = base_ != nullptr ? base_ : u"";
    // A name that does not fit leaves the base alone: the group must not land in the root
    // (the root record itself belongs there).
    if (!JoinPathFits(base, joined, name) && count > 0) {
        DebugPrint(u"winqor: the path is too long: %s%s\n", base, name);
        report_.RecordFailure(Failure::kPathTooLong, Utf16View(name));
        return false;
    }
    return true;
}

// Below a root the folder's full path; a walk that writes nowhere names it as it lies below
// the root, "." for the root itself.
void RecordWalk::TraceFolder(const char16_t* joined, const char16_t* const* components,
                             uint32_t count) {
    if (HasBase()) {
        DebugPrint(u"OutputFolder:%s\n", joined);
        return;
    }
    std::u16string relative = count == 0 ? u"." : u"";
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0) relative += kPathSeparator;
        relative += components[i];
    }
    DebugPrint(u"OutputFolder:%s\n", relative.c_str());
}

uint32_t RecordWalk::Files(uint32_t expected, RecordSink& sink) {
    uint32_t left = expected;
    while (left > 0) {
        const uint32_t consumed = File(sink);
        if (consumed == 0) return 0;
        if (consumed > left) {
            RecordMalformed();
            return 0;
        }
        left -= consumed;
    }
    return expected;
}

uint32_t RecordWalk::File(RecordSink& sink) {
    RecordView record;
    if (!RecordHeadDecoded()) return 0;
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
    if (!Decoded(RecordHeadBytes(record) + record.size)) return 0;
    if (traced_) DebugPrint(u"%s\t\tfilesize = %d\n", name, static_cast<int>(record.size));
    if (!HandFile(sink, name, record)) return 0;
    const auto head = static_cast<uint32_t>(RecordHeadBytes(record));
    stream().position += head + record.size;
    return record.size + head;
}

bool RecordWalk::HandFile(RecordSink& sink, const char16_t* name, const RecordView& record) {
    const uint8_t* content = stream().data + stream().position + RecordHeadBytes(record);
    const auto permissions =
        record.hasPermissions ? std::optional<uint32_t>(record.permissions) : std::nullopt;
    if (sink.File(name, record.attributes, permissions, content, record.size)) return true;
    report_.RecordFailure(Failure::kCreateFailed, Utf16View(name));
    return false;
}

bool RecordWalk::Decoded(uint64_t count) {
    if (prefix_ == nullptr || stopped_) return !stopped_;
    const uint64_t end = uint64_t{stream().position} + count;
    const uint32_t size = archive_.unpackedSize();
    stopped_ = !prefix_->Await(end < size ? static_cast<uint32_t>(end) : size);
    return !stopped_;
}

bool RecordWalk::RecordHeadDecoded() {
    if (!Decoded(kEntryHeaderBytes)) return false;
    // A header cut by the stream's end is the reader's to refuse.
    if (stream().capacity - stream().position < kEntryHeaderBytes) return true;
    const uint8_t* head = stream().data + stream().position;
    return Decoded(uint64_t{kEntryHeaderBytes} + ReadLe32(head + entry_offset::kNameLength));
}

void RecordWalk::RecordMalformed() {
    const uint32_t offset = archive_.output() != nullptr ? stream().position : 0;
    std::string where = "the record at byte " + std::to_string(offset) + " of the stream";
    report_.RecordFailure(Failure::kMalformedRecord, WidenAscii(where));
}

bool RecordFanOut::Directory(const char16_t* joinedPath, const char16_t* const* components,
                             uint32_t count) {
    return std::all_of(sinks_.begin(), sinks_.end(), [&](RecordSink* sink) {
        return sink->Directory(joinedPath, components, count);
    });
}

bool RecordFanOut::File(const char16_t* name, uint32_t attributes,
                        std::optional<uint32_t> permissions, const uint8_t* content,
                        uint32_t size) {
    return std::all_of(sinks_.begin(), sinks_.end(), [&](RecordSink* sink) {
        return sink->File(name, attributes, permissions, content, size);
    });
}

}  // namespace winqor
