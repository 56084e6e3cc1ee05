#include "platform/process_seam_win32.h"

namespace winqor {

bool ElevationRequiredForTests() {
    return false;
}

}  // namespace winqor
