#include "app/winqor_app.h"

#include <cstdio>

#include "app/self_extract.h"
#include "ui/ui.h"

namespace winqor {

CWinQORApp theApp;

bool CWinQORApp::InitInstance(const char* archiveArgument) {
    // A usable archive carried in the program runs without any window of its own (except
    // the password dialog) and whatever the program was started with, so that an installer
    // behaves the same however it is launched; only when there is none does the extraction
    // window open, with the archive the desktop or the user named.
    // The exit status tells a script whether the run did all its work: a run that took place
    // but failed part way is still a failure to whoever started the program, and a Setup.exe
    // that was started speaks for itself.
    RunReport report;
    const int run = RunEmbeddedArchive(SelfExtractPasswordAsker(OpenDisplay, AskPassword), &report);
    if (run != 0) {
        exitCode_ = RunExitStatus(run, report);
        return false;
    }
    if (!OpenDisplay()) {
        std::fputs("winqor: cannot open a display, so the extraction window cannot be shown\n",
                   stderr);
        exitCode_ = 1;
        return false;
    }
    // Nothing has moved the current directory yet, so a relative argument still means what
    // the user meant.
    RunMainDialog(archiveArgument);
    return false;
}

}  // namespace winqor
