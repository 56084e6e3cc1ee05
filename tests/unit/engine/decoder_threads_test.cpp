#include "engine/decoder_threads.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace winqor {
namespace {

constexpr uint64_t kMegabyte = 1024 * 1024;
// A level-9 thread: 6 x 900,000 bytes and 64 kB.
constexpr uint64_t kLevel9Thread = 5'465'536;

TEST(DecodingThreads, FollowTheProcessorsTheBudgetAndTheBlocks) {
    const struct {
        const char* name;
        unsigned processors;
        uint64_t budget;
        int level;
        size_t blocks;
        unsigned threads;
    } cases[] = {
        {"every processor, budget to spare", 8, 64 * kMegabyte, 9, 20, 8},
        {"one processor", 1, 1024 * kMegabyte, 9, 20, 1},
        {"fewer blocks than processors", 8, 64 * kMegabyte, 9, 3, 3},
        {"one block", 8, 64 * kMegabyte, 9, 1, 1},
        {"no block", 8, 64 * kMegabyte, 9, 0, 1},
        {"the budget affords two", 8, 2 * kLevel9Thread, 9, 20, 2},
        {"the budget affords one", 8, 2 * kLevel9Thread - 1, 9, 20, 1},
        {"the budget affords none", 8, 1, 9, 20, 1},
        {"smaller blocks, more threads on the same budget", 32, 12 * kMegabyte, 1, 100, 18},
        {"the old fixed budget held 9-level archives to two", 8, 12 * kMegabyte, 9, 20, 2},
        {"the lowest budget holds a dozen", 64, DecoderBudgetFor(0), 9, 100, 12},
        {"zero processors counts as one", 0, 64 * kMegabyte, 9, 20, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodingThreads(c.processors, c.budget, c.level, c.blocks), c.threads);
    }
}

TEST(DecoderBudgetFor, IsAnEighthOfTheMemoryBetweenFloorAndCeiling) {
    const struct {
        uint64_t memory;
        uint64_t budget;
    } cases[] = {
        {0, 64 * kMegabyte},                          // unknown
        {256 * kMegabyte, 64 * kMegabyte},            // small machine: the floor
        {1024 * kMegabyte, 128 * kMegabyte},          // an eighth
        {64ull * 1024 * kMegabyte, 256 * kMegabyte},  // large machine: the ceiling
    };
    for (const auto& c : cases) EXPECT_EQ(DecoderBudgetFor(c.memory), c.budget) << c.memory;
}

TEST(BlocksHeldAside, OnePerThreadAndUpToAsManyAgainFromTheBudgetLeft) {
    const struct {
        unsigned threads;
        uint64_t budget;
        unsigned held;
    } cases[] = {
        {2, 2 * kLevel9Thread, 2},            // nothing left
        {2, 2 * kLevel9Thread + 900'000, 3},  // room for one more
        {2, 1024 * kMegabyte, 4},             // never more than twice the threads
        {4, 1, 4},  // a budget below the threads' own still holds one each
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BlocksHeldAside(c.threads, c.budget, 9), c.held) << c.threads << " " << c.budget;
    }
}

}  // namespace
}  // namespace winqor
