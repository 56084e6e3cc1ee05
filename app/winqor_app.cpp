#include "app/winqor_app.h"

#include <cstdio>

#include "app/self_extract.h"
#include "ui/ui.h"

namespace winqor {

CWinQORApp theApp;

bool CWinQORApp::InitInstance() {
    // A usable archive carried in the program runs without any window of its own (except
    // the password dialog); only when there is none does the extraction window open.
    // The exit status tells a script whether the run did all its work: a run that took place
    // but failed part way is still a failure to whoever started the program.
    bool complete = false;
    const int run =
        RunEmbeddedArchive(SelfExtractPasswordAsker(OpenDisplay, AskPassword), &complete);
    if (run != 0) {
        exitCode_ = run == 1 && complete ? 0 : 1;
        return false;
    }
    if (!OpenDisplay()) {
        std::fputs("winqor: cannot open a display, so the extraction window cannot be shown\n",
                   stderr);
        exitCode_ = 1;
        return false;
    }
    RunMainDialog();
    return false;
}

}  // namespace winqor
