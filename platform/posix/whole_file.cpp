#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/tree_reading.h"
#include "platform/whole_file.h"

#include "platform/posix/support.h"

namespace winqor {

using namespace posix;
namespace {

constexpr size_t kChunkBytes = 1 << 14;
// O_NONBLOCK: should a pipe have taken the file's place, opening it must not wait.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Appends whatever follows the bytes already read: a file that grew after it was looked at.
// A small buffer takes it first, so that out grows only by what is there, never past limit.
ReadOutcome ReadGrowth(int fd, size_t start, uint64_t limit, std::vector<uint8_t>& out) {
    uint8_t chunk[kChunkBytes];
    for (;;) {
        const int64_t got = ReadFully(fd, chunk, sizeof chunk);
        if (got < 0) return ReadOutcome::kFailed;
        if (got == 0) return ReadOutcome::kRead;
        if (out.size() - start + static_cast<uint64_t>(got) > limit) return ReadOutcome::kTooLarge;
        out.insert(out.end(), chunk, chunk + got);
    }
}

// Reads the file's expected bytes straight into out, then anything it grew by.
ReadOutcome ReadAll(int fd, uint64_t expected, uint64_t limit, std::vector<uint8_t>& out,
                    std::string& reason) {
    const size_t start = out.size();
    out.resize(start + expected);
    const int64_t got = ReadFully(fd, out.data() + start, expected);
    ReadOutcome outcome = got < 0 ? ReadOutcome::kFailed : ReadOutcome::kRead;
    if (got >= 0) out.resize(start + static_cast<uint64_t>(got));
    if (got >= 0 && static_cast<uint64_t>(got) == expected) {
        outcome = ReadGrowth(fd, start, limit, out);
    }
    if (outcome == ReadOutcome::kFailed) reason = SystemReason(errno);
    if (outcome != ReadOutcome::kRead) out.resize(start);
    return outcome;
}

// Reads an opened file whole, once fstat shows it is a regular file that fits limit.
ReadOutcome ReadOpened(int fd, uint64_t limit, std::vector<uint8_t>& out, std::string& reason) {
    if (fd < 0) {
        reason = errno == ELOOP ? "a symbolic link" : SystemReason(errno);
        return ReadOutcome::kFailed;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        reason = SystemReason(errno);
        return ReadOutcome::kFailed;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? "a folder, not a file" : "not a regular file";
        return ReadOutcome::kFailed;
    }
    if (static_cast<uint64_t>(info.st_size) > limit) return ReadOutcome::kTooLarge;
    return ReadAll(fd, static_cast<uint64_t>(info.st_size), limit, out, reason);
}

}  // namespace

ReadOutcome FolderHandle::ReadFile(const std::string& name, uint64_t limit,
                                   std::vector<uint8_t>& out, std::string& reason) const {
    Descriptor file(OpenAtRetrying(handle_, name.c_str(), kReadFlags | O_NOFOLLOW));
    return ReadOpened(file.get(), limit, out, reason);
}

ReadOutcome ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& out,
                          std::string& reason) {
    Descriptor file(OpenRetrying(path.c_str(), kReadFlags));
    return ReadOpened(file.get(), limit, out, reason);
}

bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& reason) {
    return ReplaceFileAtPath(path, bytes.data(), bytes.size(), 0666, reason);
}

}  // namespace winqor
