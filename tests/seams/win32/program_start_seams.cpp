// The test builds' program-start hooks on Windows: WINQOR_TEST_ELEVATION_REQUIRED=1 makes
// every start take the elevated path, which says so on the debug channel each time.
#include <cstdlib>
#include <cstring>

#include "platform/debug.h"
#include "platform/program_start_hooks.h"

namespace winqor {
namespace {

class TestProgramStartHooks final : public ProgramStartHooks {
  public:
    bool ElevationRequired() const override {
        const char* asked = std::getenv("WINQOR_TEST_ELEVATION_REQUIRED");
        if (asked == nullptr || std::strcmp(asked, "1") != 0) return false;
        OutputDebugString(u"test seam: CreateProcessW refused as needing elevation\n");
        return true;
    }
};

const TestProgramStartHooks g_hooks;
const bool g_installed = (InstallProgramStartHooks(&g_hooks), true);

}  // namespace
}  // namespace winqor
