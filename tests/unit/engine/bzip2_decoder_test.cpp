#include "engine/bzip2_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/archive_extractor.h"
#include "writer/archive_writer.h"

namespace winqor {
namespace {

std::vector<uint8_t> Text(size_t size) {
    std::vector<uint8_t> text(size);
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<uint8_t>("lorem ipsum "[i % 12]);
    return text;
}

class DecoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDecoderVerbosity(0);
        ASSERT_TRUE(CompressBzip2(plain_, packed_));
        ASSERT_EQ(decoder_.Init(), 1);
        ASSERT_EQ(decoder_.state, Bzip2Decoder::kOpen);
    }
    std::vector<uint8_t> plain_ = Text(5000);
    std::vector<uint8_t> packed_;
    Bzip2Decoder decoder_;
};

// Every path leaves the library's state released: the sanitizer build sees any leak.
TEST_F(DecoderTest, WholeStreamEndsTheStream) {
    std::vector<uint8_t> out(plain_.size());
    uint32_t outCount = static_cast<uint32_t>(out.size());
    uint32_t inCount = static_cast<uint32_t>(packed_.size());
    EXPECT_EQ(decoder_.Decode(out.data(), &outCount, packed_.data(), &inCount), 2);
    EXPECT_EQ(outCount, plain_.size());
    EXPECT_EQ(inCount, 0u);
    EXPECT_EQ(out, plain_);
    EXPECT_EQ(decoder_.state, Bzip2Decoder::kClosed);
}

TEST_F(DecoderTest, InputLeftAfterTheEndKeepsTheStreamOpen) {
    packed_.insert(packed_.end(), {9, 9, 9});
    std::vector<uint8_t> out(plain_.size());
    uint32_t outCount = static_cast<uint32_t>(out.size());
    uint32_t inCount = static_cast<uint32_t>(packed_.size());
    EXPECT_EQ(decoder_.Decode(out.data(), &outCount, packed_.data(), &inCount), 2);
    EXPECT_EQ(inCount, 3u);
    EXPECT_EQ(decoder_.state, Bzip2Decoder::kOpen);
}

TEST_F(DecoderTest, OutputFullBeforeTheEndNeedsMoreRoom) {
    std::vector<uint8_t> out(100);
    uint32_t outCount = 100;
    uint32_t inCount = static_cast<uint32_t>(packed_.size());
    EXPECT_EQ(decoder_.Decode(out.data(), &outCount, packed_.data(), &inCount), 1);
    EXPECT_EQ(outCount, 100u);
    EXPECT_EQ(decoder_.state, Bzip2Decoder::kOpen);
    // The input still pending stays attached: the next call goes on where this one stopped.
    std::vector<uint8_t> rest(plain_.size() - 100);
    outCount = static_cast<uint32_t>(rest.size());
    EXPECT_EQ(decoder_.Decode(rest.data(), &outCount, nullptr, nullptr), 2);
    EXPECT_EQ(outCount, rest.size());
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), plain_.begin() + 100));
}

TEST_F(DecoderTest, CorruptDataEndsTheStreamWithZeroOutput) {
    packed_[packed_.size() / 2] ^= 0xFF;
    std::vector<uint8_t> out(plain_.size());
    uint32_t outCount = static_cast<uint32_t>(out.size());
    uint32_t inCount = static_cast<uint32_t>(packed_.size());
    EXPECT_EQ(decoder_.Decode(out.data(), &outCount, packed_.data(), &inCount), 0);
    EXPECT_EQ(outCount, 0u);
    EXPECT_EQ(decoder_.state, Bzip2Decoder::kClosed);
}

TEST_F(DecoderTest, MissingOutputChangesNothing) {
    uint32_t zero = 0;
    uint32_t inCount = static_cast<uint32_t>(packed_.size());
    uint8_t byte;
    EXPECT_EQ(decoder_.Decode(nullptr, &inCount, packed_.data(), &inCount), 0);
    EXPECT_EQ(decoder_.Decode(&byte, nullptr, packed_.data(), &inCount), 0);
    EXPECT_EQ(decoder_.Decode(&byte, &zero, packed_.data(), &inCount), 0);
    EXPECT_EQ(decoder_.state, Bzip2Decoder::kOpen);
    EXPECT_EQ(decoder_.stream.avail_in, 0u);
}

TEST(Bzip2Decoder, NeverOpenedOrUnusedStreamsAreSafeToDestroy) {
    SetDecoderVerbosity(0);
    { Bzip2Decoder closed; }
    {
        Bzip2Decoder opened;
        ASSERT_EQ(opened.Init(), 1);
    }
}

}  // namespace
}  // namespace winqor
