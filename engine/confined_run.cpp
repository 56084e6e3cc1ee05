// Extraction behind a second wall: the steps that write run in a child process that has given
// up the right to change anything outside the root, so that not even a fault in the checks
// above can write elsewhere. The parent stays free: the window goes on to the next
// destination, the self-extracting run starts Setup.exe. What the child found out (its
// result, its failure, the file it watched) comes back over the channel, and so does every
// debug message, as it is sent.
#include <cstring>
#include <string>
#include <vector>

#include "engine/archive_extractor.h"
#include "engine/confinement_probe.h"
#include "platform/confine.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/text.h"

namespace winqor {
namespace {

constexpr char kDebugMessage = 'D';
constexpr char kOutcomeMessage = 'R';

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

bool DecodeOutcome(std::string_view bytes, Outcome& outcome, std::u16string& where,
                   std::vector<std::u16string>& lastFolder) {
    bytes.remove_prefix(1);
    if (bytes.size() < sizeof outcome || (bytes.size() - sizeof outcome) % 2 != 0) return false;
    std::memcpy(&outcome, bytes.data(), sizeof outcome);
    std::u16string units((bytes.size() - sizeof outcome) / 2, u'\0');
    std::memcpy(units.data(), bytes.data() + sizeof outcome, units.size() * sizeof(char16_t));
    if (outcome.whereUnits > units.size()) return false;
    where = units.substr(0, outcome.whereUnits);
    lastFolder.clear();
    for (size_t start = outcome.whereUnits, end; start < units.size(); start = end + 1) {
        end = units.find(u'\0', start);
        if (end == std::u16string::npos) return false;
        lastFolder.push_back(units.substr(start, end - start));
    }
    return true;
}

}  // namespace

void ArchiveExtractor::ConfineToRoot() {
    std::string reason = "confinement is switched off for this test";
    if (!ConfinementSkippedForTests() &&
        ConfineWritesTo(root_, reason) == ConfineResult::kConfined) {
        return;
    }
    std::u16string why;
    Utf8ToUtf16(reason, why);
    DebugPrint(u"extraction is not confined to its folder: %s\n", why.c_str());
}

int ArchiveExtractor::RunConfined(const std::function<int()>& steps) {
    const auto work = [&](const MessageToParent& send) {
        SetDebugSink([&send](std::string_view text) { send(kDebugMessage + std::string(text)); });
        ConfineToRoot();
        Outcome outcome;
        outcome.result = steps();
        outcome.failure = static_cast<int32_t>(failure_);
        outcome.watchedWritten = watchedWritten_ ? 1 : 0;
        outcome.watchedId = watchedId_;
        send(EncodeOutcome(outcome, failureWhere_, lastFolder_));
    };
    int result = 0;
    bool reported = false;
    const auto receive = [&](std::string_view message) {
        if (message.empty()) return;
        if (message[0] == kDebugMessage) ForwardDebugText(message.substr(1));
        if (message[0] == kOutcomeMessage) reported = TakeChildOutcome(message, result);
    };
    bool started = false;
    const bool ended = RunInChildProcess(work, receive, started);
    if (!started) return steps();  // no child to be had: the walk's own checks stand alone
    if (!ended || !reported) {
        RecordFailure(Failure::kExtractionEnded);
        return 0;
    }
    // The walk ends in the last folder it wrote; so does this process, as if it had walked.
    EnterLastFolder();
    return result;
}

bool ArchiveExtractor::TakeChildOutcome(std::string_view message, int& result) {
    Outcome outcome;
    std::u16string where;
    if (!DecodeOutcome(message, outcome, where, lastFolder_)) return false;
    if (outcome.failure != 0) RecordFailure(static_cast<Failure>(outcome.failure), where);
    watchedWritten_ = outcome.watchedWritten != 0;
    watchedId_ = outcome.watchedId;
    result = outcome.result;
    return true;
}

void ArchiveExtractor::EnterLastFolder() {
    std::vector<const char16_t*> components;
    for (const auto& component : lastFolder_) components.push_back(component.c_str());
    DirectoryHandle entered = kInvalidDirectory;
    EnterFolderBelow(root_, components.data(), static_cast<uint32_t>(components.size()), entered);
    CloseDirectory(entered);
}

}  // namespace winqor
