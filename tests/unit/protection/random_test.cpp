#include "protection/random.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace winqor {
namespace {

TEST(RandomBytes, FillsTheWholeBufferWithFreshBytes) {
    std::set<std::vector<uint8_t>> seen;
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> bytes(64, 0);
        ASSERT_TRUE(RandomBytes(bytes.data(), bytes.size()));
        // 64 zero bytes from a working generator would be a 2^-512 event
        EXPECT_NE(bytes, std::vector<uint8_t>(64, 0));
        seen.insert(bytes);
    }
    EXPECT_EQ(seen.size(), 8u);
    EXPECT_TRUE(RandomBytes(nullptr, 0));
    EXPECT_FALSE(RandomBytes(nullptr, 4));
}

}  // namespace
}  // namespace winqor
