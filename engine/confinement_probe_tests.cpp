// The test builds' probe. WINQOR_TEST_ESCAPE_TO names a file outside the root to create, or,
// with WINQOR_TEST_ESCAPE_BY, the entry outside the root that each listed call (comma-separated:
// mkdir, symlink, link, mkfifo, unlink, rmdir, rename, truncate) tries to make or change;
// WINQOR_TEST_UNCONFINED makes the run skip confinement. WINQOR_TEST_FORBIDDEN lists the calls
// a taken-over child tries (comma-separated) on the file WINQOR_TEST_OUTSIDE; WINQOR_TEST_LIE
// makes the child lie ("hang", "flood", or "folder:A,B" for a last folder of A/B);
// WINQOR_TEST_NO_CHILD refuses the child; WINQOR_TEST_OBSERVE_CHILD has the parent say what
// the child runs; WINQOR_TEST_CHILD_SECONDS bounds its run; WINQOR_TEST_DECODER_MB sets the
// decoder's memory budget in megabytes.
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/confinement_probe.h"
#include "platform/debug.h"
#include "platform/sandbox_probe.h"
#include "platform/whole_file.h"

namespace winqor {
namespace {

void Say(const std::string& line) {
    std::u16string text;
    Utf8ToUtf16(line + "\n", text);
    OutputDebugString(text.c_str());
}

std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> items;
    for (size_t start = 0, end; start <= list.size(); start = end + 1) {
        end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        items.push_back(list.substr(start, end - start));
    }
    return items;
}

}  // namespace

bool ConfinementSkippedForTests() {
    return std::getenv("WINQOR_TEST_UNCONFINED") != nullptr;
}

void ProbeConfinement() {
    const char* target = std::getenv("WINQOR_TEST_ESCAPE_TO");
    if (target == nullptr) return;
    if (const char* calls = std::getenv("WINQOR_TEST_ESCAPE_BY")) {
        for (const auto& call : Split(calls)) {
            Say("confinement probe: " + call + " " + target + ": " + TryCallForTests(call, target));
        }
        return;
    }
    std::string reason = "written";
    ReplaceFileContents(target, std::vector<uint8_t>{'x'}, reason);
    Say(std::string("confinement probe: ") + target + ": " + reason);
}

void ProbeSandbox() {
    const char* calls = std::getenv("WINQOR_TEST_FORBIDDEN");
    const char* outside = std::getenv("WINQOR_TEST_OUTSIDE");
    if (calls == nullptr) return;
    for (const auto& call : Split(calls)) {
        Say("sandbox probe: " + call + ": " + TryCallForTests(call, outside ? outside : ""));
    }
}

void ObserveChildForTests(int64_t pid) {
    if (std::getenv("WINQOR_TEST_OBSERVE_CHILD") != nullptr) {
        Say("sandbox observer: " + DescribeProcessForTests(pid));
    }
}

bool ChildStartRefusedForTests() {
    return std::getenv("WINQOR_TEST_NO_CHILD") != nullptr;
}

uint32_t ChildSecondsForTests(uint32_t normal) {
    const char* seconds = std::getenv("WINQOR_TEST_CHILD_SECONDS");
    return seconds == nullptr ? normal : static_cast<uint32_t>(std::strtoul(seconds, nullptr, 10));
}

uint64_t DecoderBudgetForTests(uint64_t normal) {
    const char* megabytes = std::getenv("WINQOR_TEST_DECODER_MB");
    return megabytes == nullptr ? normal : std::strtoull(megabytes, nullptr, 10) * 1024 * 1024;
}

std::string ChildLieForTests(std::vector<std::u16string>& lastFolder) {
    const char* lie = std::getenv("WINQOR_TEST_LIE");
    if (lie == nullptr) return {};
    const std::string told = lie;
    if (told == "hang") {
        std::mutex never;
        std::condition_variable ending;
        std::unique_lock<std::mutex> waiting(never);
        ending.wait(waiting, [] { return false; });
    }
    if (told.rfind("folder:", 0) != 0) return told;
    lastFolder.clear();
    for (const auto& component : Split(told.substr(7))) {
        std::u16string wide;
        Utf8ToUtf16(component, wide);
        lastFolder.push_back(wide);
    }
    return "folder";
}

}  // namespace winqor
