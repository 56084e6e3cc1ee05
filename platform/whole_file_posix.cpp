#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/folder.h"

namespace winqor {
namespace {

constexpr size_t kChunkBytes = 1 << 16;

std::string SystemReason(int error) {
    return std::strerror(error);
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting the error that a deferred write may only show here.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Reads until the end of the file, but never more than limit + 1 bytes: one byte past the
// limit is enough to know the file is too large, also when it grew after it was looked at.
ReadOutcome ReadAll(int fd, uint64_t expected, uint64_t limit, std::vector<uint8_t>& out,
                    std::string& reason) {
    if (limit == UINT64_MAX) --limit;  // limit + 1 must be representable
    const size_t start = out.size();
    uint64_t total = 0;
    while (total <= limit) {
        uint64_t room = total < expected ? expected - total : kChunkBytes;
        if (room > limit + 1 - total) room = limit + 1 - total;
        out.resize(start + total + room);
        const ssize_t got = ::read(fd, out.data() + start + total, room);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            reason = SystemReason(errno);
            out.resize(start);
            return ReadOutcome::kFailed;
        }
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
    }
    out.resize(start + (total > limit ? 0 : total));
    return total > limit ? ReadOutcome::kTooLarge : ReadOutcome::kRead;
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
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
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
