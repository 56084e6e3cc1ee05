// The processors and memory this process may use: its affinity mask, the CPU rate its job may
// hold it to, and the physical memory.
#include "platform/win32/support.h"
// support.h first (see there).
#include <bit>

#include "platform/processors.h"

namespace winqor {
namespace {

// A job's hard cap is a rate in hundredths of a percent of every processor: 10,000 per
// processor, taken here as a quota of CpuRate times the processors per period of 10,000.
void ReadJobRate(ProcessorAllowance& allowance) {
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate = {};
    if (!QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate,
                                   nullptr)) {
        return;
    }
    const DWORD capped = JOB_OBJECT_CPU_RATE_CONTROL_ENABLE | JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP;
    if ((rate.ControlFlags & capped) != capped || rate.CpuRate == 0 || allowance.online == 0)
        return;
    allowance.quotaMicros = uint64_t{rate.CpuRate} * allowance.online;
    allowance.periodMicros = 10'000;
}

}  // namespace

ProcessorAllowance ReadProcessorAllowance() {
    ProcessorAllowance allowance;
    allowance.online = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        allowance.affinity = static_cast<unsigned>(std::popcount(static_cast<uint64_t>(process)));
    }
    ReadJobRate(allowance);
    return allowance;
}

uint64_t ReadUsableMemory() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

}  // namespace winqor
