// Subcommands that later work fills in; each says so instead of pretending to succeed.
#include "tools/aze/commands.h"

namespace winqor::aze {

int RunCreate(const CreateOptions&) {
    PrintError("create is not available yet");
    return kExitUsage;
}

// Replaced at merge by the folder walk of aze create.
bool BuildArchiveFromFolder(const std::string&, const std::string&, bool, std::vector<uint8_t>&) {
    PrintError("folder input is not available yet");
    return false;
}

}  // namespace winqor::aze
