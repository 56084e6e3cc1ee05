// The parent's side of the sandboxed child's channel: what it makes of each message the child
// sends and of the child's word on the folder it entered last. SandboxedRunner::RunConfined
// takes the child's messages through the same functions; they stand apart so that a fuzz
// target (fuzz/child_messages_fuzz.cpp) can give the parent any bytes a taken-over child
// could send, without a child.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace winqor {

class SandboxedRunner;

// The longest message the parent takes from the child; a longer one kills it.
uint32_t MaxChildMessageBytes();

// What the parent has taken from one child so far.
struct ChildMessages {
    int result = 0;         // the steps' result, once reported
    bool reported = false;  // the outcome has come (once, last)
};

// Takes one message as RunConfined does: a debug line, a piece of output (to output), or the
// outcome. false when the message breaks the rules: the child is then killed.
bool TakeChildMessage(SandboxedRunner& runner, std::string_view message, ChildMessages& taken,
                      const std::function<void(std::string_view)>& output);

// What RunConfined does once the child has ended after its outcome: enters, from the root,
// the folder the child said it entered last, or stays in the root.
void EnterChildsLastFolder(SandboxedRunner& runner);

}  // namespace winqor
