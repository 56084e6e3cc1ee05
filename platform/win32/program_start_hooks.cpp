#include "platform/program_start_hooks.h"

namespace winqor {
namespace {

const ProgramStartHooks*& Installed() {
    static const ProgramStartHooks* installed = nullptr;
    return installed;
}

}  // namespace

const ProgramStartHooks& CurrentProgramStartHooks() {
    static const ProgramStartHooks normal;
    const ProgramStartHooks* installed = Installed();
    return installed != nullptr ? *installed : normal;
}

void InstallProgramStartHooks(const ProgramStartHooks* hooks) {
    Installed() = hooks;
}

}  // namespace winqor
