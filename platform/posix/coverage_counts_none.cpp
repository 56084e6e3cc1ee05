// Builds without gcov's counters: nothing to write, and no wall opened for it.
#include "platform/posix/coverage_counts.h"

namespace winqor::posix {

int OpenCountsFolder() {
    return -1;
}
mode_t CountsFileModes() {
    return 0;
}
bool CountsAreWritten() {
    return false;
}
uint64_t CountsFileBytes() {
    return 0;
}
void ForgetInheritedCounts() {}
void WriteCounts() {}

}  // namespace winqor::posix
