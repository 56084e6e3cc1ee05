#include "app/winqor_app.h"

#include <cstdio>

#include "ui/ui.h"

namespace winqor {

CWinQORApp theApp;

bool CWinQORApp::InitInstance() {
    // >>> The self-extracting run goes here, before any window: RunEmbeddedArchive()
    // (app/self_extract.h) returns 1 when a run took place and -1 when it was abandoned, and
    // then InitInstance returns false at once; 0 (no usable embedded archive) falls through
    // to the extraction window below.
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
