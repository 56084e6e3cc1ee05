// The test program as the program that StartProgramAndWait starts (main.cpp).
#pragma once

namespace winqor::test {

inline constexpr char kChildVariable[] = "WINQOR_TEST_CHILD";
inline constexpr char kChildReport[] = "ran.txt";
inline constexpr int kChildExitStatus = 3;

}  // namespace winqor::test
