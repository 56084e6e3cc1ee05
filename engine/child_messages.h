// The parent's side of the sandboxed child's channel: what it makes of each message the child
// sends and of the child's word on the folder it entered last. RunExtraction takes the child's
// messages through the same functions; they stand apart so that a fuzz target
// (fuzz/child_messages_fuzz.cpp) can give the parent any bytes a taken-over child could send,
// without a child.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_request.h"

namespace winqor {

// The longest message the parent takes from the child; a longer one kills it.
uint32_t MaxChildMessageBytes();

// What the parent has taken from one child so far.
struct ChildMessages {
    ExtractionResult result;                 // once reported
    std::vector<std::u16string> lastFolder;  // the child's word on the folder it entered last
    bool reported = false;                   // the outcome has come (once, last)
    bool listingLost = false;                // part of the listing could not be written
};

// Takes one message of the child that runs request: a debug line, a piece of the listing (to
// the request's listing output), or the outcome. false when the message breaks the rules: the
// child is then killed.
bool TakeChildMessage(const ExtractionRequest& request, std::string_view message,
                      ChildMessages& taken);

// What RunExtraction does once the child has ended after its outcome: enters, from root, the
// folder the child said it entered last, or stays in the root.
void EnterChildsLastFolder(DirectoryHandle root, const ChildMessages& taken);

}  // namespace winqor
