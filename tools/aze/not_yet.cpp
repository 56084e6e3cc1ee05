// Subcommands that later work fills in; each says so instead of pretending to succeed.
#include "tools/aze/commands.h"

namespace winqor::aze {

int RunSfx(const SfxOptions&) {
    PrintError("sfx is not available yet");
    return kExitUsage;
}

int RunList(const ReadOptions&) {
    PrintError("list is not available yet");
    return kExitUsage;
}

int RunTest(const ReadOptions&) {
    PrintError("test is not available yet");
    return kExitUsage;
}

int RunExtract(const ReadOptions&) {
    PrintError("extract is not available yet");
    return kExitUsage;
}

}  // namespace winqor::aze
