// Small helpers that the POSIX implementation files share. Included by *_posix.cpp only.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace winqor::posix {

// The system's form of a UTF-16 path; false for a null path or a lone surrogate.
inline bool NativePath(const char16_t* path, std::string& native) {
    return path != nullptr && Utf16ToUtf8(std::u16string_view(path, Utf16Length(path)), native);
}

inline std::string SystemReason(int error) {
    return std::strerror(error);
}

inline int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
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
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
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

}  // namespace winqor::posix
