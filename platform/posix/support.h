// Small helpers that the POSIX implementation files share: the one place for retried opens,
// whole reads and writes, and the atomic replace of a file. Included by platform/posix/ only.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/text.h"
#include "platform/tree_reading.h"

namespace winqor::posix {

// What tells one file from every other while both exist: its device and inode.
inline FileId IdentityOf(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// The system's form of a UTF-16 path; false for a null path or a lone surrogate.
inline bool NativePath(const char16_t* path, std::string& native) {
    return path != nullptr && Utf16ToUtf8(std::u16string_view(path, Utf16Length(path)), native);
}

inline std::string SystemReason(int error) {
    return std::strerror(error);
}

// open and openat, tried again when a signal interrupts them.
int OpenRetrying(const char* path, int flags, mode_t mode = 0);
int OpenAtRetrying(int folder, const char* name, int flags, mode_t mode = 0);

// Reads until count bytes are in or the file ends; the bytes read, or -1 with errno set.
int64_t ReadFully(int fd, void* buffer, uint64_t count);

// Writes all count bytes; false with errno set when an error stops it (EIO when the system
// takes nothing without saying why).
bool WriteFully(int fd, const void* bytes, uint64_t count);

// The process's umask, read without changing it for longer than the call.
mode_t CurrentUmask();

// The mode of an extracted file: 0444 when readOnly, else 0666, plus the execute bits of
// keptExecute, less umask. An execute bit whose read bit the umask took goes too, and nothing
// beyond 0777 (set-user-ID, set-group-ID, sticky) is ever given.
mode_t ExtractedFileMode(bool readOnly, uint32_t keptExecute, mode_t umask);

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, reporting the error that a deferred write may only show here.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

// A new file that takes its name in a folder only once it is complete. It is created under a
// temporary name there (exclusively, without following links, private to its owner), written
// through fd(), and renamed over the name by Commit: whatever entry held the name before (a
// file, a link, a pipe, a device) is replaced, never opened, and stays whole until then. An
// uncommitted temporary is removed when the object goes. Temporaries are named
// ".winqor-<pid>-<n>.partial": hidden, so that one left by a killed run is told apart from a
// real file (and may be removed).
// A new temporary name for this process: ".winqor-<pid>-<n>.partial".
std::string TemporaryName();

class AtomicReplacement {
  public:
    AtomicReplacement() = default;
    ~AtomicReplacement() { Abandon(); }
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;

    // folder is a descriptor (or AT_FDCWD) that must stay open until Commit or Abandon.
    // false with errno set when the temporary cannot be created.
    bool Begin(int folder, std::string name);
    int fd() const { return file_.get(); }
    // Gives the file mode (through its descriptor), closes it and renames it over the name;
    // durable first makes content and rename reach the disk. false with errno set, the
    // temporary removed and the old entry untouched, when any step fails.
    bool Commit(mode_t mode, bool durable);
    void Abandon();
    // Gives the file mode and closes it, keeping it under its temporary name; the folder may
    // close then. CommitParked renames it over the name, RemoveParked removes it, both in
    // folder (the same folder, opened again).
    bool Park(mode_t mode);
    bool CommitParked(int folder);
    void RemoveParked(int folder);

  private:
    int folder_ = AT_FDCWD;
    Descriptor file_;
    std::string temporary_;
    std::string name_;
};

// Whether the running user may trust a folder to write into and later run from: it belongs to
// the user or root, others cannot write to it, and its group can only when that group holds
// the user alone (platform/posix/folder_trust.cpp).
enum class FolderJudgement { kTrusted, kNotOwned, kWritableByOthers };
FolderJudgement JudgeFolder(const struct stat& info);

// Reads, once, which of the running user's groups hold the user alone; JudgeFolder knows none
// before. Called before a walk starts: a confined walk may no longer reach the user database.
void LearnPrivateGroups();

// Replaces the file at path with bytes through an AtomicReplacement in its folder, durably.
// The new file gets mode less the umask. false with the system's reason.
bool ReplaceFileAtPath(const std::string& path, const void* bytes, uint64_t count, mode_t mode,
                       std::string& reason);

}  // namespace winqor::posix
