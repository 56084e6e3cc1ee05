// The program's start: the application object does all the work. The command line is not read.
#include "app/winqor_app.h"
#include "platform/process.h"

int main() {
    winqor::IgnoreFileSizeLimitSignal();
    winqor::theApp.InitInstance();
    return winqor::theApp.ExitCode();
}
