// Extraction in a sandbox: the steps that decode the archive and write its files run in a
// child process confined to the tree writer's root, and what the child found out comes back
// to this process over a channel, as far as this process can check it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_report.h"
#include "engine/tree_writer.h"
#include "platform/confine.h"

namespace winqor {

struct ChildMessages;  // engine/child_messages.h

class SandboxedRunner {
  public:
    // Confines to tree's root; takes back into report and tree what the child found out.
    SandboxedRunner(TreeWriter& tree, ExtractionReport& report);
    SandboxedRunner(const SandboxedRunner&) = delete;
    SandboxedRunner& operator=(const SandboxedRunner&) = delete;

    // Gives up, for the whole process and for good, every power but writing below the root
    // (below nothing when there is none); says on the debug channel which walls stand. false,
    // with the failure recorded, when the process could not shed its privileges: nothing may
    // run then.
    bool ConfineToRoot();
    // Runs steps (which decode the archive and may write below the root) in a sandboxed child
    // confined to the root, and takes back their result, failure and watched file; text the
    // steps send with SendOutput reaches output. 0, with the failure recorded, when no child
    // can be started or it breaks the rules. Only where the system has no such child (Windows)
    // do the steps run here.
    int RunConfined(const std::function<int()>& steps,
                    const std::function<void(std::string_view)>& output = {});
    // From within the steps: text for the caller's standard output.
    void SendOutput(std::string_view text) const;

  private:
    ConfinementRules RulesForChild() const;
    bool RootStandsAsBefore(const FolderStanding& before);

    friend bool TakeChildMessage(SandboxedRunner&, std::string_view, ChildMessages&,
                                 const std::function<void(std::string_view)>&);
    friend void EnterChildsLastFolder(SandboxedRunner&);

    int RunHere(const std::function<int()>& steps,
                const std::function<void(std::string_view)>& output);
    bool TakeChildOutcome(std::string_view message, int& result);
    bool TakeChildMessage(std::string_view message, int& result, bool& reported,
                          const std::function<void(std::string_view)>& output);
    void WorkInChild(const std::function<int()>& steps,
                     const std::function<bool(std::string_view)>& send);
    void EnterLastFolder();

    TreeWriter& tree_;
    ExtractionReport& report_;
    std::vector<std::u16string> lastFolder_;  // the child's word on the folder it entered last
    std::function<void(std::string_view)> sendOutput_;  // where SendOutput's text goes
};

}  // namespace winqor
