#include "engine/extraction_report.h"

namespace winqor {

const char* DescribeFailure(Failure failure) {
    switch (failure) {
        case Failure::kNone:
            return "no failure";
        case Failure::kOpenFailed:
            return "cannot open the archive";
        case Failure::kShortHeader:
            return "not an archive: shorter than its 256-byte header";
        case Failure::kHeaderRejected:
            return "not an archive, or its sizes are out of range";
        case Failure::kOutOfMemory:
            return "out of memory";
        case Failure::kDecoderRefused:
            return "the decompressor cannot be started";
        case Failure::kShortPayload:
            return "damaged archive: it ends before its payload does";
        case Failure::kDigestMismatch:
            return "damaged archive or wrong password: digest mismatch";
        case Failure::kCorruptData:
            return "damaged archive: corrupt compressed data";
        case Failure::kSizeMismatch:
            return "damaged archive: unexpected unpacked size";
        case Failure::kRootFailed:
            return "cannot create or enter the destination folder";
        case Failure::kMalformedRecord:
            return "damaged archive: malformed record";
        case Failure::kUnsafeName:
            return "refused a name that leaves the destination";
        case Failure::kPathTooLong:
            return "path too long";
        case Failure::kLinkRefused:
            return "refused to follow a symbolic link";
        case Failure::kFolderFailed:
            return "cannot create or enter a folder";
        case Failure::kCreateFailed:
            return "cannot create a file";
        case Failure::kWriteFailed:
            return "cannot write a file completely";
        case Failure::kFolderInTheWay:
            return "cannot create a file: a folder of that name is in the way";
        case Failure::kRootIsLink:
            return "refused the output folder: it is a symbolic link";
        case Failure::kRootNotOwned:
            return "refused the output folder: it belongs to another user";
        case Failure::kRootWritableByOthers:
            return "refused the output folder: others can write to it";
        case Failure::kFolderNotOwned:
            return "refused a folder: it belongs to another user";
        case Failure::kFolderWritableByOthers:
            return "refused a folder: others can write to it";
        case Failure::kExtractionEnded:
            return "the sandboxed process that read the archive failed";
        case Failure::kNoRoom:
            return "not enough free space at the destination";
        case Failure::kSandboxUnavailable:
            return "cannot start the sandboxed process that reads the archive";
        case Failure::kRootChanged:
            return "the output folder was changed while the archive was read";
    }
    return "unknown failure";
}

void ExtractionReport::RecordFailure(Failure failure, std::u16string_view where) {
    if (failure_ != Failure::kNone) return;
    failure_ = failure;
    failureWhere_ = where;
}

}  // namespace winqor
