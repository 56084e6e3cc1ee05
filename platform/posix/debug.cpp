#include <unistd.h>

#include <string_view>

#include "platform/posix/support.h"

namespace winqor {

// One write per message so that messages of concurrent writers do not interleave; a message
// that the system takes only in part is finished by further writes.
void WriteToStandardError(std::string_view text) {
    posix::WriteFully(STDERR_FILENO, text.data(), text.size());
}

// The debug channel's default sink on Linux is standard error.
void WriteToDefaultDebugSink(std::string_view text) {
    WriteToStandardError(text);
}

}  // namespace winqor
