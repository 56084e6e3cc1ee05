// Stands in for winqor in the end-to-end tests: the self-extracting run with no display, so
// a password is asked on the terminal or the run is abandoned. Without arguments it prints the
// run's result; with arguments it runs as winqor does and exits with winqor's status.
#include <cstdio>
#include <string>
#include <vector>

#include "app/self_extract.h"
#include "app/unattended_run.h"
#include "engine/sandboxed_runner.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    // The sandboxed child of an extraction is this program started again: it runs nothing else.
    winqor::RunIfExtractionChild(argc, argv);
    winqor::HoldOwnProgramFile();
    winqor::IgnoreFileSizeLimitSignal();
    if (argc > 1) {
        const winqor::SelfExtractHost host{[] { return false; }, {}, false, {}, {}};
        int status = 0;
        const bool ran = winqor::RunSelfExtractingProgram(
            std::vector<std::string>(argv + 1, argv + argc), host, status);
        if (!ran) std::printf("result 0\n");
        return status;
    }
    const int result =
        winqor::RunEmbeddedArchive(winqor::SelfExtractPasswordAsker([] { return false; }, {}));
    std::printf("result %d\n", result);
    return 0;
}
