// The test programs' start: a test that extracts starts its sandboxed child as this program
// again, which then runs the child's side alone, as winqor and aze do.
#include <gtest/gtest.h>

#include "engine/sandboxed_runner.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    winqor::RunIfExtractionChild(argc, argv);
    winqor::HoldOwnProgramFile();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
