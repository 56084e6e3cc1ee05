#include "engine/extraction_hooks.h"

namespace winqor {
namespace {

// Reached through a function so that hooks installed by another file's static initialiser find
// it made, whatever the order in which the files' initialisers run.
const ExtractionHooks*& Installed() {
    static const ExtractionHooks* installed = nullptr;
    return installed;
}

}  // namespace

const ExtractionHooks& CurrentExtractionHooks() {
    static const ExtractionHooks normal;
    const ExtractionHooks* installed = Installed();
    return installed != nullptr ? *installed : normal;
}

void InstallExtractionHooks(const ExtractionHooks* hooks) {
    Installed() = hooks;
}

}  // namespace winqor
