#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace winqor {

// One write per message so that messages of concurrent writers do not interleave.
void WriteToStandardError(std::string_view text) {
    while (!text.empty()) {
        ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace winqor
