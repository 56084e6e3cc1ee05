// Test builds only: WINQOR_TEST_ELEVATION_REQUIRED=1 makes every start take the elevation path.
#include <cstdlib>
#include <cstring>

#include "platform/debug.h"
#include "platform/win32/process_seam.h"

namespace winqor {

bool ElevationRequiredForTests() {
    const char* asked = std::getenv("WINQOR_TEST_ELEVATION_REQUIRED");
    if (asked == nullptr || std::strcmp(asked, "1") != 0) return false;
    OutputDebugString(u"test seam: CreateProcessW refused as needing elevation\n");
    return true;
}

}  // namespace winqor
