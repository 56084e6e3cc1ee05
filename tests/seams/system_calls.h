// The calls a taken-over child would try, so that the tests can see each refused, and what a
// started child runs, seen from its parent (each system's own in posix/ and win32/).
#pragma once

#include <cstdint>
#include <string>

namespace winqor {

// Tries the call named (on the entry outside, where it takes a path; link and rename make
// outside + ".link" and outside + ".moved") and says how it ended: "done", the system's reason
// for refusing it, or "unknown call".
std::string TryCall(const std::string& call, const std::string& outside);

// What process pid runs, seen from outside it: "program: the running one" when its program
// file is this process's own ("another" otherwise), then its first argument and its thread
// count.
std::string DescribeProcess(int64_t pid);

}  // namespace winqor
