#include "engine/confinement_probe.h"

namespace winqor {

bool ConfinementSkippedForTests() {
    return false;
}

void ProbeConfinement() {}

}  // namespace winqor
