#include "app/winqor_app.h"

#include <cstdio>

#include "app/unattended_run.h"
#include "ui/ui.h"

namespace winqor {

CWinQORApp theApp;

bool CWinQORApp::InitInstance(const std::vector<std::string>& arguments, bool slashHelp) {
    // A usable archive carried in the program runs without any window of its own (except
    // the password dialog); started without arguments it behaves the same however it is
    // launched, and its arguments are its switches and Setup.exe's. Only when it carries none
    // does the extraction window open, with the archive the desktop or the user named.
    // The exit status tells a script whether the run did all its work: a run that took place
    // but failed part way is still a failure to whoever started the program, and a Setup.exe
    // that was started speaks for itself.
    const SelfExtractHost host{OpenDisplay, AskPassword, slashHelp, ShowTextWindow,
                               AskToAcceptLicence};
    if (RunSelfExtractingProgram(arguments, host, exitCode_)) return false;
    if (!OpenDisplay()) {
        std::fputs("winqor: cannot open a display, so the extraction window cannot be shown\n",
                   stderr);
        exitCode_ = 1;
        return false;
    }
    // Nothing has moved the current directory yet, so a relative argument still means what
    // the user meant.
    RunMainDialog(arguments.empty() ? nullptr : arguments.front().c_str());
    return false;
}

}  // namespace winqor
