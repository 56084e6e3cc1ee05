#include "platform/sandbox_probe.h"

namespace winqor {

// Windows runs no confined child, so nothing asks.
std::string TryCallForTests(const std::string&, const std::string&) {
    return "unknown call";
}

}  // namespace winqor
