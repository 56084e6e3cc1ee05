#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/limits.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

#include "platform/posix_support.h"

namespace winqor {

using namespace posix;
namespace {

// Converts a system path into a terminated UTF-16 buffer; its length, or 0 when it does not
// fit (or is not UTF-8).
uint32_t ToUtf16Buffer(std::string_view native, char16_t* buffer, uint32_t units) {
    std::u16string wide;
    if (buffer == nullptr || native.empty() || !Utf8ToUtf16(native, wide)) return 0;
    if (wide.size() >= units) return 0;
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = 0;
    return static_cast<uint32_t>(wide.size());
}

// The program was asked for by name, so it may be run even when it was written without
// execute permission (as extracted files are).
bool MakeOwnerExecutable(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if ((info.st_mode & S_IXUSR) != 0) return true;
    return ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR) == 0;
}

void WaitForExit(pid_t child) {
    int status;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

uint32_t GetModuleFileName(char16_t* buffer, uint32_t units) {
    char native[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", native, sizeof native);
    // A result that fills the buffer may have been cut.
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof native)) return 0;
    return ToUtf16Buffer(std::string_view(native, static_cast<size_t>(length)), buffer, units);
}

int StartProgramAndWait(const char16_t* path) {
    std::string native;
    if (!NativePath(path, native) || native.empty() || !MakeOwnerExecutable(native)) return 0;
    char* const argv[] = {native.data(), nullptr};
    pid_t child;
    if (::posix_spawn(&child, native.c_str(), nullptr, nullptr, argv, environ) != 0) return 0;
    WaitForExit(child);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return 1;
}

void IgnoreFileSizeLimitSignal() {
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace winqor
