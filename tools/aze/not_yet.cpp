// Subcommands that later work fills in; each says so instead of pretending to succeed.
#include "tools/aze/commands.h"

namespace winqor::aze {

int RunCreate(const CreateOptions&) {
    PrintError("create is not available yet");
    return kExitUsage;
}

int RunSfx(const SfxOptions&) {
    PrintError("sfx is not available yet");
    return kExitUsage;
}

int LoadEmbeddedArchive(const std::string&, ArchiveExtractor&) {
    return 0;
}

}  // namespace winqor::aze
