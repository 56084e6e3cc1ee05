#include "platform/win32/process_seam.h"

namespace winqor {

bool ElevationRequiredForTests() {
    return false;
}

}  // namespace winqor
