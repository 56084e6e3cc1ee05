#include "base/bzip2_memory.h"

#include <gtest/gtest.h>

namespace winqor {
namespace {

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

}  // namespace
}  // namespace winqor
