// The processors and memory this process may use, from the system's own accounts: the
// affinity mask, and the control groups' quotas in /proc and /sys (read before the sandbox's
// walls hide them).
#include "platform/processors.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/support.h"

namespace winqor {
namespace {

// The control group files are a line or a few; anything longer is not one of them.
constexpr size_t kSmallFileBytes = 16 * 1024;

std::string ReadSmallFile(const std::string& path) {
    posix::Descriptor file(posix::OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return {};
    std::string text(kSmallFileBytes, '\0');
    const int64_t got = posix::ReadFully(file.get(), text.data(), text.size());
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

// The leading decimal number of text; false when there is none.
bool LeadingNumber(std::string_view text, uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end != text.data();
}

// Where this process sits in each hierarchy: "id:controllers:path" a line.
struct GroupLine {
    std::string controllers;
    std::string path;
};

std::vector<GroupLine> ReadOwnGroups() {
    std::vector<GroupLine> lines;
    const std::string text = ReadSmallFile("/proc/self/cgroup");
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second != std::string_view::npos) {
            lines.push_back({std::string(line.substr(first + 1, second - first - 1)),
                             std::string(line.substr(second + 1))});
        }
        start = end + 1;
    }
    return lines;
}

bool NamesController(std::string_view controllers, std::string_view wanted) {
    for (size_t start = 0; start <= controllers.size();) {
        size_t end = controllers.find(',', start);
        if (end == std::string_view::npos) end = controllers.size();
        if (controllers.substr(start, end - start) == wanted) return true;
        start = end + 1;
    }
    return false;
}

// The folders of the process's group and of each ancestor, below every place the hierarchy
// may be mounted. A container may show the host's path for a group mounted as its root, so
// the walk goes up to the root whatever the path says.
std::vector<std::string> GroupFolders(const std::vector<std::string>& mounts, std::string path) {
    std::vector<std::string> folders;
    while (true) {
        for (const std::string& mount : mounts) folders.push_back(mount + path);
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || path == "/") break;
        path.erase(slash);
    }
    return folders;
}

std::vector<std::string> FoldersOf(std::string_view controller, bool unified) {
    for (const GroupLine& line : ReadOwnGroups()) {
        if (unified && line.controllers.empty() && !line.path.empty()) {
            return GroupFolders({"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}, line.path);
        }
        if (!unified && NamesController(line.controllers, controller) && !line.path.empty()) {
            return GroupFolders(
                {"/sys/fs/cgroup/" + std::string(controller), "/sys/fs/cgroup/" + line.controllers},
                line.path);
        }
    }
    return {};
}

void KeepTighterQuota(uint64_t quota, uint64_t period, ProcessorAllowance& allowance) {
    if (quota == 0 || period == 0) return;
    const bool tighter =
        allowance.periodMicros == 0 || static_cast<double>(quota) / static_cast<double>(period) <
                                           static_cast<double>(allowance.quotaMicros) /
                                               static_cast<double>(allowance.periodMicros);
    if (tighter) {
        allowance.quotaMicros = quota;
        allowance.periodMicros = period;
    }
}

// cgroup v2's cpu.max: "max PERIOD" (no quota) or "QUOTA PERIOD".
void ReadUnifiedQuotas(ProcessorAllowance& allowance) {
    for (const std::string& folder : FoldersOf("cpu", true)) {
        const std::string text = ReadSmallFile(folder + "/cpu.max");
        const size_t space = text.find(' ');
        uint64_t quota = 0;
        uint64_t period = 0;
        if (space != std::string::npos && LeadingNumber(text, quota) &&
            LeadingNumber(std::string_view(text).substr(space + 1), period)) {
            KeepTighterQuota(quota, period, allowance);
        }
    }
}

// cgroup v1's cpu.cfs_quota_us (-1: no quota) and cpu.cfs_period_us.
void ReadSplitQuotas(ProcessorAllowance& allowance) {
    for (const std::string& folder : FoldersOf("cpu", false)) {
        uint64_t quota = 0;
        uint64_t period = 0;
        if (LeadingNumber(ReadSmallFile(folder + "/cpu.cfs_quota_us"), quota) &&
            LeadingNumber(ReadSmallFile(folder + "/cpu.cfs_period_us"), period)) {
            KeepTighterQuota(quota, period, allowance);
        }
    }
}

// The processors in the affinity mask, asking again with a larger set on machines of more
// processors than the default set holds.
unsigned AffinityCount() {
    for (int size = CPU_SETSIZE; size <= 1 << 16; size *= 2) {
        cpu_set_t* set = CPU_ALLOC(static_cast<size_t>(size));
        if (set == nullptr) return 0;
        const size_t bytes = CPU_ALLOC_SIZE(static_cast<size_t>(size));
        CPU_ZERO_S(bytes, set);
        const bool read = sched_getaffinity(0, bytes, set) == 0;
        const int count = read ? CPU_COUNT_S(bytes, set) : 0;
        CPU_FREE(set);
        if (read) return static_cast<unsigned>(count);
        if (errno != EINVAL) return 0;
    }
    return 0;
}

uint64_t GroupMemoryLimit() {
    uint64_t limit = UINT64_MAX;
    uint64_t value = 0;
    for (const std::string& folder : FoldersOf("memory", true)) {
        if (LeadingNumber(ReadSmallFile(folder + "/memory.max"), value))
            limit = std::min(limit, value);
    }
    for (const std::string& folder : FoldersOf("memory", false)) {
        if (LeadingNumber(ReadSmallFile(folder + "/memory.limit_in_bytes"), value))
            limit = std::min(limit, value);
    }
    return limit;
}

}  // namespace

ProcessorAllowance ReadProcessorAllowance() {
    ProcessorAllowance allowance;
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    allowance.online = online > 0 ? static_cast<unsigned>(online) : 0;
    allowance.affinity = AffinityCount();
    ReadUnifiedQuotas(allowance);
    ReadSplitQuotas(allowance);
    return allowance;
}

uint64_t ReadUsableMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageBytes = sysconf(_SC_PAGESIZE);
    const uint64_t physical = pages > 0 && pageBytes > 0
                                  ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes)
                                  : 0;
    const uint64_t group = GroupMemoryLimit();
    return physical == 0 ? (group == UINT64_MAX ? 0 : group) : std::min(physical, group);
}

}  // namespace winqor
