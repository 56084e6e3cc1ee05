// What the system lets this process use: its processors and its memory, as the system says
// (platform/posix/processors.cpp, platform/win32/processors.cpp). How many threads to run on
// them is decided from these answers alone (UsableProcessors in base/work_threads.h).
#pragma once

#include <cstdint>

#include "base/work_threads.h"

namespace winqor {

ProcessorAllowance ReadProcessorAllowance();

// UsableProcessors for the allowance the system gives now.
inline unsigned UsableProcessors() {
    return UsableProcessors(ReadProcessorAllowance());
}

// The physical memory, lowered to the memory limit of the process's control group when one
// is lower; 0 when the system does not say.
uint64_t ReadUsableMemory();

}  // namespace winqor
