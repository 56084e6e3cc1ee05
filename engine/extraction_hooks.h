// What a sandboxed extraction asks of its surroundings: how long the child may run, how much
// memory the decoder may take, whether a child may be started and confined, and what runs at
// the moments where a run can be watched from outside (the child started, its walls up, the
// output stage about to write, the child about to report). The shipped programs install
// nothing and get ExtractionHooks' own answers: the normal values, and nothing done. A program
// may install other hooks once, before main; they then serve every extraction it runs, in the
// parent and in the sandboxed child alike (the child is the same program started again).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winqor {

// How the child's report leaves it, once its hooks had their say.
enum class ChildReportForm {
    kAsTold,    // the outcome as the walk found it (lastFolder as the hook left it)
    kOversized  // a message past the channel's bound, before the outcome
};

class ExtractionHooks {
  public:
    virtual ~ExtractionHooks() = default;

    // The seconds a sandboxed child may run before it is ended.
    virtual uint32_t ChildSecondsLimit(uint32_t normal) const { return normal; }
    // The bytes the decoder may hold (its threads' blocks and cache).
    virtual uint64_t DecoderMemoryBudget(uint64_t normal) const { return normal; }
    // false, with whyNot, when no child may be started: the run then fails as on a system that
    // cannot start one.
    virtual bool ChildMayStart(std::string& /*whyNot*/) const { return true; }
    // false when the run goes on without confinement, as on a system that has none; whyNot
    // says why on the debug channel.
    virtual bool ConfinementWanted(std::string& /*whyNot*/) const { return true; }
    // In the parent, once the child pid is running.
    virtual void ChildStarted(int64_t /*pid*/) const {}
    // In the child, once its walls are up and before it reads the request.
    virtual void ChildConfined() const {}
    // In the output stage, once the tree was judged and before its first write below the root.
    virtual void OutputAboutToWrite() const {}
    // In the child, with the outcome's last folder, before it reports; may change it.
    virtual ChildReportForm ChildAboutToReport(std::vector<std::u16string>& /*lastFolder*/) const {
        return ChildReportForm::kAsTold;
    }
};

// The hooks installed, or ExtractionHooks' own when none were.
const ExtractionHooks& CurrentExtractionHooks();

// Installs hooks that live as long as the program (nullptr: back to ExtractionHooks' own).
void InstallExtractionHooks(const ExtractionHooks* hooks);

}  // namespace winqor
