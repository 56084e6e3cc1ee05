#include "format/bzip2_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string_view>

namespace winqor {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(StreamLevel, OnlyAWholeHeaderWithALevelDigitOpensAStream) {
    const struct {
        std::string_view bytes;
        int level;
    } cases[] = {{"BZh1", 1}, {"BZh9\x31\x41", 9}, {"BZh0", 0}, {"BZh:", 0},
                 {"BZh", 0},  {"BZx9", 0},         {"bZh9", 0}, {"", 0}};
    for (const auto& c : cases) EXPECT_EQ(StreamLevel(Bytes(c.bytes)), c.level) << c.bytes;
}

// The cache hands a released block back for the same size only, and never one still in use.
TEST(Bzip2MemoryCache, ReusesOnlyReleasedBlocksOfTheSameSize) {
    Bzip2MemoryCache cache;
    void* first = Bzip2MemoryCache::Allocate(&cache, 4, 1000);
    void* second = Bzip2MemoryCache::Allocate(&cache, 4, 1000);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    Bzip2MemoryCache::Release(&cache, first);
    EXPECT_NE(Bzip2MemoryCache::Allocate(&cache, 1, 3000), first);
    EXPECT_EQ(Bzip2MemoryCache::Allocate(&cache, 2, 2000), first);
    EXPECT_NE(Bzip2MemoryCache::Allocate(&cache, 4, 1000), first);
}

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

}  // namespace
}  // namespace winqor

namespace winqor {
namespace {

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
