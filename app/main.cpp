// The program's start: the application object does all the work with the arguments.
#include <string>
#include <vector>

#include "app/winqor_app.h"
#include "engine/sandboxed_runner.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    // The sandboxed child of an extraction is this program started again: it runs nothing else.
    winqor::RunIfExtractionChild(argc, argv);
    winqor::HoldOwnProgramFile();
    winqor::IgnoreFileSizeLimitSignal();
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    winqor::theApp.InitInstance(arguments);
    return winqor::theApp.ExitCode();
}
