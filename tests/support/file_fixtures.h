// What hostile-destination tests put in place and look at: entries that are not plain files,
// and facts about a file that std::filesystem does not give. Shared by the tests and the fuzz
// harness; the system calls live in the platform's own file (file_fixtures_posix.cpp).
#pragma once

#include <cstdint>
#include <filesystem>

namespace winqor::test {

bool MakePipe(const std::filesystem::path& at);
// A character device that refuses every write (the system's "full" device).
bool MakeFullDevice(const std::filesystem::path& at);
// Gives the entry to an unprivileged user (nobody); needs root.
bool GiveToNobody(const std::filesystem::path& at);
bool RunningAsRoot();
// The process's file-creation mask.
uint32_t CreationMask();

struct FileFacts {
    bool regular = false;
    uint64_t links = 0;
    bool mine = false;  // belongs to the running user
    uint32_t mode = 0;  // permission bits
    uint64_t device = 0, node = 0;
};
// Describes the entry itself, not what a link there leads to; false when there is none.
bool Facts(const std::filesystem::path& at, FileFacts& facts);

// Opens a pipe for reading without waiting for a writer; -1 on failure.
int OpenPipeReader(const std::filesystem::path& at);
// Bytes a reader can take now without waiting (0 when none or the writers are gone).
long ReadNow(int reader);
void ClosePipeReader(int reader);

}  // namespace winqor::test
