#include "base/work_threads.h"

#include <algorithm>

namespace winqor {

unsigned UsableProcessors(const ProcessorAllowance& allowance) {
    uint64_t processors = allowance.affinity != 0 ? allowance.affinity : allowance.online;
    if (allowance.quotaMicros != 0 && allowance.periodMicros != 0) {
        const uint64_t quota = allowance.quotaMicros / allowance.periodMicros +
                               (allowance.quotaMicros % allowance.periodMicros != 0 ? 1 : 0);
        processors = processors == 0 ? quota : std::min(processors, quota);
    }
    return static_cast<unsigned>(std::clamp<uint64_t>(processors, 1, UINT32_MAX));
}

}  // namespace winqor
