#include "base/work_threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace winqor {
namespace {

TEST(RunOnThreads, RunsTheWorkOnceAThreadAndRefusesOnlyWhenAHelperIsNeededAndMissing) {
    const struct {
        unsigned count;
        bool helperNeeded;
    } cases[] = {{0, false}, {1, false}, {1, true}, {4, false}, {4, true}};
    for (const auto& c : cases) {
        std::atomic<unsigned> runs{0};
        const bool ran = RunOnThreads(
            c.count, [&] { ++runs; }, c.helperNeeded);
        const bool refused = c.helperNeeded && c.count < 2;
        EXPECT_EQ(ran, !refused) << c.count;
        EXPECT_EQ(runs, refused ? 0u : std::max(1u, c.count)) << c.count;
    }
}

TEST(UsableProcessors, TheAffinityLoweredToTheQuotaRoundedUp) {
    const struct {
        const char* name;
        ProcessorAllowance allowance;
        unsigned processors;
    } cases[] = {
        {"nothing known", {}, 1},
        {"the online count when the affinity is unknown", {8, 0, 0, 0}, 8},
        {"the affinity over the online count", {8, 2, 0, 0}, 2},
        {"a quota of one processor", {8, 8, 100'000, 100'000}, 1},
        {"a quota of one and a half, rounded up", {8, 8, 150'000, 100'000}, 2},
        {"a quota below one still runs one", {8, 8, 10'000, 100'000}, 1},
        {"a quota above the affinity", {8, 2, 400'000, 100'000}, 2},
        {"a quota alone", {0, 0, 300'000, 100'000}, 3},
        {"a quota without a period is none", {8, 4, 100'000, 0}, 4},
    };
    for (const auto& c : cases) EXPECT_EQ(UsableProcessors(c.allowance), c.processors) << c.name;
}

}  // namespace
}  // namespace winqor
