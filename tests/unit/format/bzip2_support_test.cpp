#include "format/bzip2_support.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace winqor
