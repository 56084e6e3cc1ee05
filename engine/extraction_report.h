// What an extraction found out beside its result, which it never changes: the first failure
// and where it happened, and the exit status of the Setup.exe a self-extracting run started.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace winqor {

// Why an operation failed.
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
    kRootChanged,             // the output folder's owner, mode or kind changed meanwhile
    kNoRoom,                  // the destination has less free space than the tree needs
};

const char* DescribeFailure(Failure failure);

class ExtractionReport {
  public:
    // Keeps the first failure only: the one that stopped the extraction.
    void RecordFailure(Failure failure, std::u16string_view where = {});
    Failure failure() const { return failure_; }
    // Where the failure happened: a path or a record name, empty when there is none.
    const std::u16string& failureWhere() const { return failureWhere_; }

    void RecordSetupExit(uint32_t status) {
        setupStarted_ = true;
        setupExitStatus_ = status;
    }
    // The exit status of the Setup.exe that a self-extracting run started; false when it
    // started none.
    bool SetupExitStatus(uint32_t& status) const {
        status = setupExitStatus_;
        return setupStarted_;
    }

  private:
    Failure failure_ = Failure::kNone;
    std::u16string failureWhere_;
    bool setupStarted_ = false;
    uint32_t setupExitStatus_ = 0;
};

}  // namespace winqor
