#include "platform/sandbox_probe.h"

namespace winqor {

// Windows runs no confined child, so nothing asks.
std::string TryCallForTests(const std::string&, const std::string&) {
    return "unknown call";
}

// No child is started here: the extraction runs in this process.
std::string DescribeProcessForTests(int64_t) {
    return "no sandboxed process on Windows";
}

}  // namespace winqor
