// The test builds' probe. WINQOR_TEST_ESCAPE_TO names a file outside the root to create;
// WINQOR_TEST_UNCONFINED makes the run skip confinement.
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/confinement_probe.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "platform/whole_file.h"

namespace winqor {

bool ConfinementSkippedForTests() {
    return std::getenv("WINQOR_TEST_UNCONFINED") != nullptr;
}

void ProbeConfinement() {
    const char* target = std::getenv("WINQOR_TEST_ESCAPE_TO");
    if (target == nullptr) return;
    std::string reason = "written";
    ReplaceFileContents(target, std::vector<uint8_t>{'x'}, reason);
    std::u16string text;
    Utf8ToUtf16(std::string("confinement probe: ") + target + ": " + reason + "\n", text);
    OutputDebugString(text.c_str());
}

}  // namespace winqor
