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
