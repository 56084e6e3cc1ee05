// Stands in for winqor in the end-to-end tests: the self-extracting run with no display, so
// a password is asked on the terminal or the run is abandoned. Prints the run's result.
#include <cstdio>

#include "app/self_extract.h"
#include "platform/process.h"

int main() {
    winqor::IgnoreFileSizeLimitSignal();
    const int result =
        winqor::RunEmbeddedArchive(winqor::SelfExtractPasswordAsker([] { return false; }, {}));
    std::printf("result %d\n", result);
    return 0;
}
