#include "engine/confinement_probe.h"

namespace winqor {

bool ConfinementSkippedForTests() {
    return false;
}

void ProbeConfinement() {}

void ProbeSandbox() {}

void ObserveChildForTests(int64_t) {}

bool ChildStartRefusedForTests() {
    return false;
}

uint32_t ChildSecondsForTests(uint32_t normal) {
    return normal;
}

uint64_t DecoderBudgetForTests(uint64_t normal) {
    return normal;
}

std::string ChildLieForTests(std::vector<std::u16string>&) {
    return {};
}

}  // namespace winqor
