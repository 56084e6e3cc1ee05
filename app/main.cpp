// The program's start: the application object does all the work. The command line is not read.
#include "app/winqor_app.h"

int main() {
    winqor::theApp.InitInstance();
    return winqor::theApp.ExitCode();
}
