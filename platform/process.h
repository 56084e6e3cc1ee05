// The running process: its own program file, and starting another program. Paths are
// UTF-16 and converted at the system call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/tree_reading.h"
#include "platform/tree_writing.h"

namespace winqor {

// The absolute path of the running program's file, terminated, into buffer (units long,
// terminator included). Its length, or 0 when it cannot be read or does not fit: a path is
// never cut.
uint32_t GetModuleFileName(char16_t* buffer, uint32_t units);

// The pause StartProgramAndWait makes after the program has ended, before it returns.
inline constexpr std::chrono::milliseconds kPauseAfterProgram{1000};

// Starts the program name in folder with arguments (each passed on as it stands), this process's
// environment and current directory, waits for it to end, then pauses one second. Only the file
// expected is started: name is opened without following a link and must be that regular file,
// belonging to the running user and (on Linux) writable by nobody else; it gets owner execute
// permission and is started through the very descriptor it was checked through, so nothing
// swapped in meanwhile runs. (On Windows the handle it was checked through stays open, shared
// for reading only, while the program is started by the file's full path: nobody can change,
// rename or remove it meanwhile. A program that needs elevation is started through the shell.)
// 1 when the program was started, 0 when it is missing, another file, or cannot be started.
// exitStatus, when given, receives the program's exit status when it was started (on Linux
// 128 + the signal that ended it).
int StartProgramAndWait(DirectoryHandle folder, const char16_t* name, const FileId& expected,
                        uint32_t* exitStatus = nullptr,
                        const std::vector<std::u16string>& arguments = {});

// Takes one message from the child; false when the message breaks the rules (the child is
// then killed).
using MessageFromChild = std::function<bool(std::string_view message)>;

// What the parent allows a child before it kills it.
struct ChildLimits {
    uint32_t maxMessageBytes = 0;
    uint32_t maxSeconds = 0;
};

enum class ChildEnd {
    kEnded,        // the child exited normally and every message arrived whole
    kUnsupported,  // this system has no such child: nothing has run
    kNotStarted,   // the child could not be started: nothing has run
    kFailed,       // it crashed, broke a message, or was killed (reason says which)
};

// What a sandboxed child is started with: two messages it reads from its channel, the request
// and then the bytes, the folder it may write below (kInvalidDirectory: none), whether the
// debug channel is on, and flags its confinement needs before it reads the request (their
// meaning is the caller's).
struct ChildStart {
    std::string_view request;
    const uint8_t* bytes = nullptr;
    uint64_t byteCount = 0;
    DirectoryHandle root = kInvalidDirectory;
    bool debug = true;
    uint32_t flags = 0;
    // Called here with the child's process id once it runs the program afresh, before it is
    // given the request (so it is still there). Null: nothing is called.
    std::function<void(int64_t pid)> started;
};

// Holds the running program's file open, first thing at start-up: a sandboxed child is this
// program started again from that descriptor, so that whatever stands at the program's path
// later is not what runs. Nothing to do where the system has no such child.
void HoldOwnProgramFile();

// Starts the sandboxed child, this program started afresh from its own file in the child's
// mode (a private argument vector and descriptors no user passes by accident), and waits for
// it; each message it sends reaches receive here, whole and in order, as it comes. The child
// holds only its channel and the root; its standard input and output read and write /dev/null,
// and what it writes to its standard error reaches this process's, line by line with control
// characters escaped (up to 1 MiB). A message longer than limits allow, one receive refuses,
// more on the standard error than that, or a child that runs longer than limits allow, is
// killed. The wait ends when the child exits, whoever else holds the channel. reason says what
// went wrong.
ChildEnd RunChildProgram(const ChildStart& start, const MessageFromChild& receive,
                         const ChildLimits& limits, std::string& reason);

// What a sandboxed child finds at its start.
struct ChildChannel {
    FileHandle channel = kInvalidHandle;  // the request and the bytes in, the messages out
    DirectoryHandle root = kInvalidDirectory;
    bool debug = true;
    uint32_t flags = 0;
};

// True when this process was started by RunChildProgram, with channel filled: the argument
// vector is the child's private one and each descriptor it names is of the kind it must be.
// Called first thing in main, before anything else runs.
bool IsSandboxedChildStart(int argc, const char* const* argv, ChildChannel& channel);

// In the child: ends the process with status at once (no handler of the program's end runs).
[[noreturn]] void EndChildProcess(int status);

// In the child: one message to the parent; false when the parent is gone.
bool SendToParent(FileHandle channel, std::string_view message);
// In the child: the next message on the channel, of at most maxBytes; false when there is
// none or it is longer.
bool ReceiveFromParent(FileHandle channel, uint32_t maxBytes, std::string& message);

// A write past the process's file-size limit then fails like a full disk (the write reports
// an error and the program says which file it could not write) instead of ending the program
// with a signal. Called once at start-up.
void IgnoreFileSizeLimitSignal();

// Libraries the program loads later come from the system's own folder only, never from the
// program's folder or the current one (where a downloaded installer may have company).
// Called first thing at start-up; nothing to do where the loader never looks there.
void RestrictLibrarySearch();

}  // namespace winqor
