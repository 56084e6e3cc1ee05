#include "platform/posix/support.h"

#include <sys/stat.h>
#include <time.h>

#include <atomic>

#include "base/temporary_name.h"

namespace winqor::posix {
namespace {

constexpr int kTemporaryAttempts = 100;

std::atomic<uint64_t> g_temporaryCounter{0};

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string TemporaryName() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t unique = static_cast<uint64_t>(now.tv_nsec) ^ (g_temporaryCounter++ << 32);
    return winqor::TemporaryName(static_cast<uint64_t>(::getpid()), unique);
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
    return OpenAtRetrying(AT_FDCWD, path, flags, mode);
}

int OpenAtRetrying(int folder, const char* name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(folder, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int64_t ReadFully(int fd, void* buffer, uint64_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint64_t total = 0;
    while (total < count) {
        const ssize_t got = ::read(fd, bytes + total, count - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
    }
    return static_cast<int64_t>(total);
}

bool WriteFully(int fd, const void* bytes, uint64_t count) {
    const auto* next = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const ssize_t written = ::write(fd, next, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        next += written;
        count -= static_cast<uint64_t>(written);
    }
    return true;
}

mode_t CurrentUmask() {
    // Read once: the programs never change it, and reading it means setting it twice.
    static const mode_t mask = [] {
        const mode_t current = ::umask(0);
        ::umask(current);
        return current;
    }();
    return mask;
}

mode_t ExtractedFileMode(bool readOnly, uint32_t keptExecute, mode_t umask) {
    const mode_t granted = ((readOnly ? 0444 : 0666) | (keptExecute & 0111)) & ~umask & 0777;
    const mode_t readable = (granted & 0444) >> 2;  // each read bit moved onto its execute bit
    return granted & ~(0111 & ~readable);
}

bool AtomicReplacement::Begin(int folder, std::string name) {
    Abandon();
    folder_ = folder;
    name_ = std::move(name);
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        temporary_ = TemporaryName();
        const int fd = OpenAtRetrying(folder_, temporary_.c_str(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                      0600 & ~CurrentUmask());
        if (fd >= 0) {
            file_.Reset(fd);
            return true;
        }
        if (errno != EEXIST) break;
    }
    temporary_.clear();
    return false;
}

bool AtomicReplacement::Commit(mode_t mode, bool durable) {
    bool done = file_.get() >= 0 && ::fchmod(file_.get(), mode) == 0 &&
                (!durable || ::fsync(file_.get()) == 0) && file_.Close() &&
                ::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) == 0;
    if (!done) {
        const int error = errno;
        Abandon();
        errno = error;
        return false;
    }
    temporary_.clear();
    if (durable) ::fsync(folder_);
    return true;
}

bool AtomicReplacement::Park(mode_t mode) {
    if (file_.get() < 0 || ::fchmod(file_.get(), mode) != 0 || !file_.Close()) {
        const int error = errno;
        Abandon();
        errno = error;
        return false;
    }
    // The descriptor may be reused for another folder: nothing is removed through it now.
    folder_ = -1;
    return true;
}

bool AtomicReplacement::CommitParked(int folder) {
    if (temporary_.empty()) return false;
    const bool done = ::renameat(folder, temporary_.c_str(), folder, name_.c_str()) == 0;
    if (!done) {
        const int error = errno;
        RemoveParked(folder);
        errno = error;
        return false;
    }
    temporary_.clear();
    return true;
}

void AtomicReplacement::RemoveParked(int folder) {
    if (!temporary_.empty()) ::unlinkat(folder, temporary_.c_str(), 0);
    temporary_.clear();
}

void AtomicReplacement::Abandon() {
    file_.Reset(-1);
    if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
    temporary_.clear();
}

bool ReplaceFileAtPath(const std::string& path, const void* bytes, uint64_t count, mode_t mode,
                       std::string& reason) {
    std::string folderPath, name;
    SplitPath(path, folderPath, name);
    Descriptor folder(OpenRetrying(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    AtomicReplacement file;
    if (folder.get() < 0 || !file.Begin(folder.get(), name) ||
        !WriteFully(file.fd(), bytes, count) || !file.Commit(mode & ~CurrentUmask(), true)) {
        reason = SystemReason(errno);
        return false;
    }
    return true;
}

}  // namespace winqor::posix
