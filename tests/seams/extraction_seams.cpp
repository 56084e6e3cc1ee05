// The test builds' extraction hooks, installed before main in every program they are linked
// into, and steered by the environment of the test that runs the program:
// WINQOR_TEST_ESCAPE_TO names a file outside the root for the output stage to create, or, with
// WINQOR_TEST_ESCAPE_BY, the entry outside the root that each listed call (comma-separated:
// mkdir, symlink, link, mkfifo, unlink, rmdir, rename, truncate) tries to make or change;
// WINQOR_TEST_UNCONFINED makes the run skip confinement. WINQOR_TEST_FORBIDDEN lists the calls
// a taken-over child tries (comma-separated) on the file WINQOR_TEST_OUTSIDE; WINQOR_TEST_LIE
// makes the child lie ("hang", "flood", or "folder:A,B" for a last folder of A/B);
// WINQOR_TEST_NO_CHILD refuses the child; WINQOR_TEST_OBSERVE_CHILD has the parent say what
// the child runs; WINQOR_TEST_CHILD_SECONDS bounds its run; WINQOR_TEST_DECODER_MB sets the
// decoder's memory budget in megabytes. Each probe says what happened on the debug channel.
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/extraction_hooks.h"
#include "platform/debug.h"
#include "platform/whole_file.h"
#include "seams/system_calls.h"

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

bool Asked(const char* variable) {
    return std::getenv(variable) != nullptr;
}

[[noreturn]] void HangForever() {
    std::mutex never;
    std::condition_variable ending;
    std::unique_lock<std::mutex> waiting(never);
    for (;;) ending.wait(waiting);
}

void LieAboutLastFolder(const std::string& components, std::vector<std::u16string>& lastFolder) {
    lastFolder.clear();
    for (const auto& component : Split(components)) {
        std::u16string wide;
        Utf8ToUtf16(component, wide);
        lastFolder.push_back(wide);
    }
}

class TestExtractionHooks final : public ExtractionHooks {
  public:
    uint32_t ChildSecondsLimit(uint32_t normal) const override {
        const char* seconds = std::getenv("WINQOR_TEST_CHILD_SECONDS");
        return seconds == nullptr ? normal
                                  : static_cast<uint32_t>(std::strtoul(seconds, nullptr, 10));
    }

    uint64_t DecoderMemoryBudget(uint64_t normal) const override {
        const char* megabytes = std::getenv("WINQOR_TEST_DECODER_MB");
        return megabytes == nullptr ? normal : std::strtoull(megabytes, nullptr, 10) * 1024 * 1024;
    }

    bool ChildMayStart(std::string& whyNot) const override {
        if (!Asked("WINQOR_TEST_NO_CHILD")) return true;
        whyNot = "cannot start the sandboxed process: refused for this test";
        return false;
    }

    bool ConfinementWanted(std::string& whyNot) const override {
        if (!Asked("WINQOR_TEST_UNCONFINED")) return true;
        whyNot = "confinement is switched off for this test";
        return false;
    }

    void ChildStarted(int64_t pid) const override {
        if (Asked("WINQOR_TEST_OBSERVE_CHILD")) Say("sandbox observer: " + DescribeProcess(pid));
    }

    void ChildConfined() const override {
        const char* calls = std::getenv("WINQOR_TEST_FORBIDDEN");
        const char* outside = std::getenv("WINQOR_TEST_OUTSIDE");
        if (calls == nullptr) return;
        for (const auto& call : Split(calls)) {
            Say("sandbox probe: " + call + ": " + TryCall(call, outside ? outside : ""));
        }
    }

    void OutputAboutToWrite() const override {
        const char* target = std::getenv("WINQOR_TEST_ESCAPE_TO");
        if (target == nullptr) return;
        if (const char* calls = std::getenv("WINQOR_TEST_ESCAPE_BY")) {
            for (const auto& call : Split(calls)) {
                Say("confinement probe: " + call + " " + target + ": " + TryCall(call, target));
            }
            return;
        }
        std::string reason = "written";
        ReplaceFileContents(target, std::vector<uint8_t>{'x'}, reason);
        Say(std::string("confinement probe: ") + target + ": " + reason);
    }

    ChildReportForm ChildAboutToReport(std::vector<std::u16string>& lastFolder) const override {
        const char* lie = std::getenv("WINQOR_TEST_LIE");
        if (lie == nullptr) return ChildReportForm::kAsTold;
        const std::string told = lie;
        if (told == "hang") HangForever();
        if (told == "flood") return ChildReportForm::kOversized;
        if (told.rfind("folder:", 0) == 0) LieAboutLastFolder(told.substr(7), lastFolder);
        return ChildReportForm::kAsTold;
    }
};

const TestExtractionHooks g_hooks;

// Installed before main: the sandboxed child, this program started again, installs them too.
const bool g_installed = (InstallExtractionHooks(&g_hooks), true);

}  // namespace
}  // namespace winqor
