// Test builds only (WINQOR_TEST_SEAMS): the calls a taken-over child would try, so that the
// tests can see each refused.
#pragma once

#include <string>

namespace winqor {

// Tries the call named (on the entry outside, where it takes a path; link and rename make
// outside + ".link" and outside + ".moved") and says how it ended: "done", the system's reason
// for refusing it, or "unknown call".
std::string TryCallForTests(const std::string& call, const std::string& outside);

}  // namespace winqor
