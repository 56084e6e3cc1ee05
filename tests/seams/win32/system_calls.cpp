#include "seams/system_calls.h"

namespace winqor {

// Windows runs no confined child, so nothing asks.
std::string TryCall(const std::string&, const std::string&) {
    return "unknown call";
}

// No child is started here: the extraction runs in this process.
std::string DescribeProcess(int64_t) {
    return "no sandboxed process on Windows";
}

}  // namespace winqor
