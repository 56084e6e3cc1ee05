// The test program's start. Started with WINQOR_TEST_CHILD in its environment, it stands for
// the program an extraction starts: it notes where and how it runs in ran.txt in its current
// folder and ends with exit status 3.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "child_program.h"

namespace {

int RunAsChild(int argc) {
    std::ofstream(winqor::test::kChildReport)
        << std::filesystem::current_path().string() << '|' << argc;
    return winqor::test::kChildExitStatus;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv(winqor::test::kChildVariable) != nullptr) return RunAsChild(argc);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
