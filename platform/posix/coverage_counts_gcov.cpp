// Coverage builds: gcov's runtime writes a process's counts at its normal exit only, beneath the
// object folders the build compiled them in (or beneath GCOV_PREFIX). The sandboxed child ends
// with _exit behind walls that let it write only beneath the extraction's folder; here those
// walls also admit the counts folder and the calls gcov's writing makes, and the child writes
// its counts itself before it ends.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/posix/coverage_counts.h"

extern "C" void __gcov_dump(void);
extern "C" void __gcov_reset(void);

namespace winqor::posix {

int OpenCountsFolder() {
    const char* prefix = std::getenv("GCOV_PREFIX");
    const char* folder = prefix != nullptr && *prefix != 0 ? prefix : WINQOR_COUNTS_FOLDER;
    return ::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// gcov opens each counts file for reading and writing, made if missing, with mode 0666.
mode_t CountsFileModes() {
    return 0666;
}

bool CountsAreWritten() {
    return true;
}

// The largest counts file of this build is far below this.
uint64_t CountsFileBytes() {
    return 64u << 20;
}

void ForgetInheritedCounts() {
    __gcov_reset();
}

void WriteCounts() {
    __gcov_dump();
}

}  // namespace winqor::posix
