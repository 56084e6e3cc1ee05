#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/folder.h"

#include "platform/posix_support.h"

namespace winqor {

using namespace posix;
namespace {

constexpr size_t kChunkBytes = 1 << 14;

// Reads up to count bytes into buffer; the bytes read (fewer at the end of the file), or -1.
int64_t ReadUpTo(int fd, uint8_t* buffer, uint64_t count) {
    uint64_t total = 0;
    while (total < count) {
        const ssize_t got = ::read(fd, buffer + total, count - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
    }
    return static_cast<int64_t>(total);
}

// Appends whatever follows the bytes already read: a file that grew after it was looked at.
// A small buffer takes it first, so that out grows only by what is there, never past limit.
ReadOutcome ReadGrowth(int fd, size_t start, uint64_t limit, std::vector<uint8_t>& out) {
    uint8_t chunk[kChunkBytes];
    for (;;) {
        const int64_t got = ReadUpTo(fd, chunk, sizeof chunk);
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
    const int64_t got = ReadUpTo(fd, out.data() + start, expected);
    ReadOutcome outcome = got < 0 ? ReadOutcome::kFailed : ReadOutcome::kRead;
    if (got >= 0) out.resize(start + static_cast<uint64_t>(got));
    if (got >= 0 && static_cast<uint64_t>(got) == expected) {
        outcome = ReadGrowth(fd, start, limit, out);
    }
    if (outcome == ReadOutcome::kFailed) reason = SystemReason(errno);
    if (outcome != ReadOutcome::kRead) out.resize(start);
    return outcome;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count, std::string& reason) {
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            reason = SystemReason(written < 0 ? errno : EIO);
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name nobody else uses in path's folder, created exclusively (so never through a link)
// with the mode an ordinary new file gets: 0666 less the umask.
int CreateSibling(const std::string& path, std::string& sibling) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    // Cut, so that the suffix still fits in a name of 255 bytes.
    const std::string name =
        (slash == std::string::npos ? path : path.substr(slash + 1)).substr(0, 200);
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        sibling = folder + name + "." + std::to_string(::getpid()) + "-" +
                  std::to_string((now.tv_nsec + attempt * 7919) % 1000000) + ".partial";
        const int fd = OpenRetrying(sibling.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Makes the rename itself durable; a folder that cannot be synchronised changes nothing.
void SyncFolder(const std::string& folder) {
    const int fd = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes everything and waits until it is on the disk, so that the rename never puts a
// name on a file whose content a crash could still lose.
bool WriteToDisk(Descriptor& file, const std::vector<uint8_t>& bytes, std::string& reason) {
    if (!WriteAll(file.get(), bytes.data(), bytes.size(), reason)) return false;
    if (::fsync(file.get()) != 0 || !file.Close()) {
        reason = SystemReason(errno);
        return false;
    }
    return true;
}

bool RenameOver(const std::string& from, const std::string& to, std::string& reason) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    reason = SystemReason(errno);
    return false;
}

}  // namespace

ReadOutcome ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& out,
                          std::string& reason) {
    // O_NONBLOCK: should a pipe have taken the file's place, opening it must not wait.
    Descriptor file(
        OpenRetrying(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        reason = errno == ELOOP ? "a symbolic link" : SystemReason(errno);
        return ReadOutcome::kFailed;
    }
    struct stat info;
    if (::fstat(file.get(), &info) != 0) {
        reason = SystemReason(errno);
        return ReadOutcome::kFailed;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
        return ReadOutcome::kFailed;
    }
    if (static_cast<uint64_t>(info.st_size) > limit) return ReadOutcome::kTooLarge;
    return ReadAll(file.get(), static_cast<uint64_t>(info.st_size), limit, out, reason);
}

bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& reason) {
    std::string sibling;
    Descriptor file(CreateSibling(path, sibling));
    if (file.get() < 0) {
        reason = SystemReason(errno);
        return false;
    }
    if (!WriteToDisk(file, bytes, reason) || !RenameOver(sibling, path, reason)) {
        ::unlink(sibling.c_str());
        return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}

}  // namespace winqor
