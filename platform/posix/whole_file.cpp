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

// O_NONBLOCK: should a pipe have taken the file's place, opening it must not wait.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

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
    const auto read = [fd](uint8_t* buffer, uint64_t count) {
        return ReadFully(fd, buffer, count);
    };
    const ReadOutcome outcome =
        ReadExpectedAndGrowth(read, static_cast<uint64_t>(info.st_size), limit, out);
    if (outcome == ReadOutcome::kFailed) reason = SystemReason(errno);
    return outcome;
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
