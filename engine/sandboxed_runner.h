// Extraction in a sandbox: one request, run by a child process that is this program started
// afresh, confined to the request's root before it reads a byte of the request; what the child
// found out comes back to this process over a channel, as far as this process can check it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_request.h"
#include "engine/record_sink.h"
#include "platform/confine.h"
#include "platform/tree_writing.h"

namespace winqor {

// Runs one extraction in a sandboxed child, where the system has one; where it has none
// (Windows) the same ServeExtraction runs here. The listing reaches the request's listing
// output as it comes; the debug messages, this process's debug channel. kSandboxFailed, with
// the failure kSandboxUnavailable or kExtractionEnded, when no child can be started or it
// breaks the rules. For kExtract, this process's current folder is afterwards the folder the
// walk entered last, among those that exist below the root.
ExtractionResult RunExtraction(const ExtractionRequest& request);

// Where ServeExtraction sends its listing, piece by piece; false when it cannot go on.
using ListingSender = std::function<bool(std::string_view piece)>;

// The extraction itself, in the process that runs it: loads the request's archive, decodes it,
// checks every record and, for kExtract, writes them below the request's root (which stays
// open: the caller's). lastFolder, when given, receives the folder the walk entered last.
ExtractionResult ServeExtraction(const ExtractionRequest& request, const ListingSender& listing,
                                 std::vector<std::u16string>* lastFolder = nullptr);

// What makes the sink of a JSON listing (kListJson), each line to writeLine.
using JsonSinkMaker = std::unique_ptr<RecordSink> (*)(std::function<void(std::string_view)>);
// Given by a program that lists as JSON (aze, first thing in main, so that its sandboxed child
// has it too); the window and the self-extracting program never list so, and carry none of
// its code. Without it a request for kListJson is refused.
void OfferJsonListing(JsonSinkMaker make);

// First thing in main, in every program that extracts: when this process was started as the
// sandboxed child of an extraction, runs that extraction and ends the process (at once, as the
// forked copy it replaces did: nothing of the program's own end runs behind the walls);
// otherwise returns, having done nothing.
void RunIfExtractionChild(int argc, const char* const* argv);

// Gives up, for the whole process and for good, every power but writing below root (below
// nothing when it is kInvalidDirectory) as rules allow; says on the debug channel which walls
// stand. false, with whyNot, when the process could not shed its privileges: nothing may run
// then.
bool ConfineToRoot(DirectoryHandle root, const ConfinementRules& rules, std::string& whyNot);

}  // namespace winqor
