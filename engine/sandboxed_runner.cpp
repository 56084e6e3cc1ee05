// Extraction in a sandbox: the steps that decode the archive and write its files run in a
// child process that, before it touches a byte of the payload, gives up every power but
// writing below the root and talking to this process. The parent stays free: the window goes
// on to the next destination, the self-extracting run starts Setup.exe. What the child found
// out (its result, its failure, the file it watched, the folder it entered last) comes back
// over the channel, and so does every debug message and line of output, as it is sent. The
// parent believes none of it further than it can check: every message is bounded, a failure
// must be one this program knows, the last folder must be plain names of folders that exist.
#include "engine/sandboxed_runner.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/bzip2_decoder.h"
#include "engine/bzip2_parallel.h"
#include "engine/child_messages.h"
#include "engine/confinement_probe.h"
#include "format/archive_header.h"
#include "platform/confine.h"
#include "platform/debug.h"
#include "platform/process.h"

namespace winqor {
namespace {

constexpr char kDebugMessage = 'D';
constexpr char kOutputMessage = 'O';
constexpr char kOutcomeMessage = 'R';

// Room for the largest message: an outcome with two full paths, or one piece of output.
constexpr uint32_t kOutputPieceBytes = 64 * 1024;
constexpr uint32_t kMaxMessageBytes = 4 * kMaxPath * sizeof(char16_t) + kOutputPieceBytes;
// Ten megabytes take seconds to write even to a slow disk; a child still running after half
// an hour is stuck or playing for time.
constexpr uint32_t kMaxChildSeconds = 30 * 60;

// The outcome's fixed part. The failure's place follows it as UTF-16 units, then the folder
// the walk entered last, its components each ended by a zero unit.
struct Outcome {
    FileId watchedId;
    int32_t result = 0;
    int32_t failure = 0;
    uint32_t watchedWritten = 0;
    uint32_t whereUnits = 0;
};
// Every byte is a field: no uninitialised padding travels over the channel.
static_assert(sizeof(Outcome) == 2 * sizeof(uint64_t) + 4 * sizeof(uint32_t));

template <typename T>
void Append(std::string& bytes, const T& value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void AppendUnits(std::string& bytes, std::u16string_view units) {
    bytes.append(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(char16_t));
}

std::string EncodeOutcome(Outcome outcome, const std::u16string& where,
                          const std::vector<std::u16string>& lastFolder) {
    std::string bytes(1, kOutcomeMessage);
    outcome.whereUnits = static_cast<uint32_t>(where.size());
    Append(bytes, outcome);
    AppendUnits(bytes, where);
    for (const auto& component : lastFolder) AppendUnits(bytes, component + u'\0');
    return bytes;
}

// A name of a folder inside its parent: never the parent itself, never a path.
bool IsPlainComponent(std::u16string_view name) {
    return !name.empty() && name != u"." && name != u".." &&
           name.find_first_of(u"/\\") == std::u16string_view::npos && IsPlainNameHere(name);
}

bool DecodeOutcome(std::string_view bytes, Outcome& outcome, std::u16string& where,
                   std::vector<std::u16string>& lastFolder) {
    bytes.remove_prefix(1);
    if (bytes.size() < sizeof outcome || (bytes.size() - sizeof outcome) % 2 != 0) return false;
    std::memcpy(&outcome, bytes.data(), sizeof outcome);
    std::u16string units((bytes.size() - sizeof outcome) / 2, u'\0');
    std::memcpy(units.data(), bytes.data() + sizeof outcome, units.size() * sizeof(char16_t));
    if (outcome.whereUnits > units.size() || outcome.watchedWritten > 1 ||
        std::strcmp(DescribeFailure(static_cast<Failure>(outcome.failure)), "unknown failure") ==
            0) {
        return false;
    }
    where = units.substr(0, outcome.whereUnits);
    lastFolder.clear();
    for (size_t start = outcome.whereUnits, end; start < units.size(); start = end + 1) {
        end = units.find(u'\0', start);
        if (end == std::u16string::npos) return false;
        lastFolder.push_back(units.substr(start, end - start));
        if (!IsPlainComponent(lastFolder.back())) return false;
    }
    return true;
}

// What the child holds beyond what it inherits: the stream and its decoded records (loaded in
// the child when the parent has not), the library's state for a call over the whole stream,
// the decoding threads' budget, and room for the walk's own buffers and messages.
constexpr uint64_t kLibraryStateBytes = 8 * 1024 * 1024;
constexpr uint64_t kWalkBytes = 64 * 1024 * 1024;
uint64_t ChildMemoryAllowance() {
    return 2 * uint64_t{kMaxPayloadSize} + kLibraryStateBytes + DecoderMemoryBudget() + kWalkBytes;
}

// The channel, the root, the walk's current folder and the file it writes, with room for the
// C library's own.
constexpr uint32_t kChildDescriptors = 32;

void SayUtf8(const char16_t* format, const std::string& text) {
    std::u16string wide;
    Utf8ToUtf16(text, wide);
    DebugPrint(format, wide.c_str());
}

}  // namespace

SandboxedRunner::SandboxedRunner(TreeWriter& tree, ExtractionReport& report)
    : tree_(tree), report_(report) {}

ConfinementRules SandboxedRunner::RulesForChild() const {
    ConfinementRules rules;
    rules.ownerOnlyFiles = tree_.ownerOnlyFiles();
    rules.ownerOnlyFolders = tree_.ownerOnlyFolders();
    // No file written holds more than the whole decoded stream.
    rules.maxFileBytes = tree_.rootFolder() == kInvalidDirectory ? 0 : kMaxPayloadSize;
    rules.maxMemoryBytes = ChildMemoryAllowance();
    rules.maxThreads = DecoderThreads();
    rules.maxDescriptors = kChildDescriptors;
    return rules;
}

bool SandboxedRunner::ConfineToRoot() {
    if (ConfinementSkippedForTests()) {
        DebugPrint(u"extraction is not confined to its folder: %s\n",
                   u"confinement is switched off for this test");
        return true;
    }
    const ConfinementWalls walls = ConfineToFolder(tree_.rootFolder(), RulesForChild());
    if (!walls.up.empty()) SayUtf8(u"sandbox: walls up: %s\n", walls.up);
    if (!walls.privileges) {
        std::u16string reason;
        Utf8ToUtf16(walls.missing, reason);
        report_.RecordFailure(Failure::kSandboxUnavailable, reason);
        SayUtf8(u"winqor: %s\n", "cannot start the sandboxed process: " + walls.missing);
        return false;
    }
    if (!walls.files) {
        SayUtf8(u"extraction is not confined to its folder: %s\n", walls.missing);
    } else if (!walls.missing.empty()) {
        SayUtf8(u"sandbox: walls missing: %s\n", walls.missing);
    }
    return true;
}

void SandboxedRunner::SendOutput(std::string_view text) const {
    for (; sendOutput_ && !text.empty();
         text.remove_prefix(std::min<size_t>(text.size(), kOutputPieceBytes))) {
        sendOutput_(text.substr(0, kOutputPieceBytes));
    }
}

void SandboxedRunner::WorkInChild(const std::function<int()>& steps,
                                  const std::function<bool(std::string_view)>& send) {
    // A channel the parent silenced stays silent here too, and costs nothing.
    if (SetDebugSink({})) {
        SetDebugSink([&send](std::string_view text) { send(kDebugMessage + std::string(text)); });
    }
    sendOutput_ = [&send](std::string_view text) { send(kOutputMessage + std::string(text)); };
    // The decoder counts the processors from files that the walls will hide.
    SetDecoderThreads(DecoderThreads());
    Outcome outcome;
    if (ConfineToRoot()) {
        ProbeSandbox();
        outcome.result = steps();
    }
    outcome.failure = static_cast<int32_t>(report_.failure());
    outcome.watchedWritten = tree_.WatchedFileWritten(outcome.watchedId) ? 1 : 0;
    std::vector<std::u16string> lastFolder = tree_.lastFolder();
    if (ChildLieForTests(lastFolder) == "flood") {
        send(std::string(kMaxMessageBytes + 1, kDebugMessage));
    }
    send(EncodeOutcome(outcome, report_.failureWhere(), lastFolder));
}

bool SandboxedRunner::TakeChildMessage(std::string_view message, int& result, bool& reported,
                                       const std::function<void(std::string_view)>& output) {
    if (message.empty()) return false;
    if (message[0] == kDebugMessage) ForwardDebugText(message.substr(1));
    if (message[0] == kOutputMessage && output) output(message.substr(1));
    if (message[0] != kOutcomeMessage)
        return message[0] == kDebugMessage || message[0] == kOutputMessage;
    // One outcome, and nothing after it.
    if (reported) return false;
    reported = TakeChildOutcome(message, result);
    return reported;
}

int SandboxedRunner::RunConfined(const std::function<int()>& steps,
                                 const std::function<void(std::string_view)>& output) {
    int result = 0;
    bool reported = false;
    const auto receive = [&](std::string_view message) {
        return TakeChildMessage(message, result, reported, output);
    };
    const auto work = [&](const MessageToParent& send) { WorkInChild(steps, send); };
    std::string why = "cannot start the sandboxed process: refused for this test";
    const ChildLimits limits{kMaxMessageBytes, ChildSecondsForTests(kMaxChildSeconds)};
    FolderStanding before;
    const bool rooted = ReadFolderStanding(tree_.rootFolder(), before);
    const ChildEnd end = ChildStartRefusedForTests()
                             ? ChildEnd::kNotStarted
                             : RunInChildProcess(work, receive, tree_.rootFolder(), limits, why);
    if (end == ChildEnd::kUnsupported) return RunHere(steps, output);
    if (end != ChildEnd::kEnded || !reported) {
        if (end == ChildEnd::kEnded) why = "it ended without saying how the extraction went";
        std::u16string reason;
        Utf8ToUtf16(why, reason);
        report_.RecordFailure(
            end == ChildEnd::kNotStarted ? Failure::kSandboxUnavailable : Failure::kExtractionEnded,
            reason);
        SayUtf8(u"winqor: %s\n", why);
        return 0;
    }
    if (rooted && !RootStandsAsBefore(before)) return 0;
    // The walk ends in the last folder it wrote; so does this process, as if it had walked.
    EnterLastFolder();
    return result;
}

// The child may change the mode of what it holds, the root among them; a root that others
// could now write to, or that is no longer what it was, fails the run before anything trusts
// the tree (Setup.exe is started from it).
bool SandboxedRunner::RootStandsAsBefore(const FolderStanding& before) {
    FolderStanding after;
    if (ReadFolderStanding(tree_.rootFolder(), after) && after == before) return true;
    report_.RecordFailure(Failure::kRootChanged);
    DebugPrint(u"winqor: %s\n", u"the output folder was changed while the archive was read");
    return false;
}

// No process of this system can be confined; the walk's own checks stand alone.
int SandboxedRunner::RunHere(const std::function<int()>& steps,
                             const std::function<void(std::string_view)>& output) {
    sendOutput_ = output;
    const int here = steps();
    sendOutput_ = nullptr;
    return here;
}

bool SandboxedRunner::TakeChildOutcome(std::string_view message, int& result) {
    Outcome outcome;
    std::u16string where;
    if (!DecodeOutcome(message, outcome, where, lastFolder_)) {
        lastFolder_.clear();
        return false;
    }
    if (outcome.failure != 0) report_.RecordFailure(static_cast<Failure>(outcome.failure), where);
    if (outcome.watchedWritten != 0) tree_.NoteWatchedFile(outcome.watchedId);
    result = outcome.result;
    return true;
}

// Entered from this process's own root, each component without following a link, none
// created: the child's word picks a folder among those that exist below the root, no more.
void SandboxedRunner::EnterLastFolder() {
    std::vector<const char16_t*> components;
    for (const auto& component : lastFolder_) components.push_back(component.c_str());
    const DirectoryHandle root = tree_.rootFolder();
    DirectoryHandle entered = kInvalidDirectory;
    if (root != kInvalidDirectory &&
        EnterFolderBelow(root, components.data(), static_cast<uint32_t>(components.size()), entered,
                         /*createLast=*/false) != EnterResult::kEntered) {
        DebugPrint(u"the folder the walk entered last is not there: staying in the root\n");
        MakeCurrent(root);
    }
    CloseDirectory(entered);
}

uint32_t MaxChildMessageBytes() {
    return kMaxMessageBytes;
}

bool TakeChildMessage(SandboxedRunner& runner, std::string_view message, ChildMessages& taken,
                      const std::function<void(std::string_view)>& output) {
    return runner.TakeChildMessage(message, taken.result, taken.reported, output);
}

void EnterChildsLastFolder(SandboxedRunner& runner) {
    runner.EnterLastFolder();
}

}  // namespace winqor
