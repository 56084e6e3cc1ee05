// A self-extracting program's run as its command line asks for it: where to unpack, whether
// to start Setup.exe and with what, how to get the password, where the trace goes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/self_extract.h"
#include "engine/archive_extractor.h"

namespace winqor {

// What the hosting program offers the run.
struct SelfExtractHost {
    std::function<bool()> openDisplay;  // true when a window can be shown
    PasswordAsker dialog;
    bool slashHelp = false;  // "/?" asks for help too
    // Shows a text where no console can show it (a GUI program started from a shortcut).
    std::function<void(const std::string& text)> showText;
    // Shows the licence the program carries in a window: true for Accept.
    std::function<bool(const std::string& text)> licenceDialog;
};

// The running program's self-extracting run. false when the program carries no usable archive:
// the extraction window follows, its arguments untouched. Otherwise the run took place and
// exitStatus is the process's: without arguments as RunExitStatus says, with arguments from
// the table in command_line.h.
bool RunSelfExtractingProgram(const std::vector<std::string>& arguments,
                              const SelfExtractHost& host, int& exitStatus);

// The exit status for a failure of the extraction itself.
int ExitStatusForFailure(Failure failure);

}  // namespace winqor
