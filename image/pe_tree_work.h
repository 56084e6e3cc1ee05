// What reading and rewriting PE resource trees has cost on this thread, counted as it goes, so
// that tests can hold the work on a hostile tree to what the file's size implies.
#pragma once

#include <cstdint>

namespace winqor {

struct PeTreeWork {
    uint64_t entriesVisited = 0;     // directory entries read
    uint64_t nameUnitsCompared = 0;  // UTF-16 units looked at while comparing names
};

// This thread's counts; a test sets them to {} before the call it measures.
PeTreeWork& PeTreeWorkOnThisThread();

}  // namespace winqor
