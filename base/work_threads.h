// Work spread over threads, as the bzip2 decoder (engine/) and compressor (writer/) spread
// their blocks, and how many threads the system's allowance is worth. Pure code: the
// allowance itself is read by platform/processors.h.
#pragma once

#include <cstdint>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace winqor {

// What the system lets this process run on (ReadProcessorAllowance in platform/processors.h).
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

// The processors the allowance leaves this process, at least 1: its affinity (else the
// machine's count), lowered to its quota rounded up (a quota of 1.5 processors keeps two busy
// for most of each period).
unsigned UsableProcessors(const ProcessorAllowance& allowance);

// Runs work on up to count threads, this one included. A thread the system will not give (or
// memory for it) only means fewer helpers: work takes jobs until none are left. When helperNeeded
// and no helper could be started, work does not run and the answer is false.
template <typename Work>
bool RunOnThreads(unsigned count, Work work, bool helperNeeded = false) {
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < count; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    if (helperNeeded && helpers.empty()) return false;
    work();
    for (auto& helper : helpers) helper.join();
    return true;
}

}  // namespace winqor
