// The program's start: the application object does all the work. Of the command line only the
// first argument is looked at, and only by the extraction window.
#include "app/winqor_app.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    winqor::IgnoreFileSizeLimitSignal();
    winqor::theApp.InitInstance(argc > 1 ? argv[1] : nullptr);
    return winqor::theApp.ExitCode();
}
