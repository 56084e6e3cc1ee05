// What the system lets this process use: its processors and its memory, as the system says
// (platform/posix/processors.cpp, platform/win32/processors.cpp). How many threads to run on
// them is decided above, from these answers alone (format/bzip2_support.h, engine/).
#pragma once

#include <cstdint>

namespace winqor {

struct ProcessorAllowance {
    // Processors the machine has online; 0 when the system does not say.
    unsigned online = 0;
    // Processors this process may run on (its affinity); 0 when the system does not say.
    unsigned affinity = 0;
    // The CPU time the process's control group may use per period, the tightest of the group
    // and its ancestors; both 0 when no quota holds.
    uint64_t quotaMicros = 0;
    uint64_t periodMicros = 0;
};

ProcessorAllowance ReadProcessorAllowance();

// The physical memory, lowered to the memory limit of the process's control group when one
// is lower; 0 when the system does not say.
uint64_t ReadUsableMemory();

}  // namespace winqor
