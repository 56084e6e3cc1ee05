// A private folder in the user's temporary folder for a run that leaves nothing behind, and
// waiting for everything that a started program started in turn.
#pragma once

#include <string>

namespace winqor {

// Makes a new folder that only the running user can enter, named winqor-*, and yields its
// path. On Linux in the first of $TMPDIR, /tmp and /var/tmp that is a folder on a file system
// that allows starting programs (one mounted noexec would refuse Setup.exe); on Windows in
// the user's temporary folder (GetTempPathW: %TMP%, %TEMP%, or the user's profile). false,
// with reason set, when none can be made.
bool MakePrivateTemporaryFolder(std::u16string& path, std::string& reason);

// Removes the folder at path and everything below it; a link below it is removed, never
// followed. A current directory inside it moves to its parent first (Windows removes no
// folder that is a process's current one). false when something could not be removed, with
// reason naming the first entry that stayed and why.
bool RemoveTree(const std::u16string& path, std::string& reason);

// Makes this process take on the processes that the programs it starts leave behind when they
// exit (Linux: the child subreaper), so that WaitForDescendants waits for them too. Windows'
// StartProgramAndWait already waits for every process the program started.
void AdoptDescendants();

// Waits until no child of this process is left (those adopted included).
void WaitForDescendants();

}  // namespace winqor
