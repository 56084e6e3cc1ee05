#include "app/winqor_app.h"

#include <cstdio>

#include "ui/ui.h"

namespace winqor {

CWinQORApp theApp;

bool CWinQORApp::InitInstance() {
    // THE SELF-EXTRACTING RUN COMES FIRST, HERE: RunEmbeddedArchive() (app/self_extract.h)
    // gives 1 when a run took place and -1 when it was abandoned, and InitInstance then
    // returns false at once without opening a window; 0 (no usable embedded archive) goes on
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
