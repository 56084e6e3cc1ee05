#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "support/test_support.h"
#include "writer/archive_writer.h"
#include "writer/bzip2_join.h"

namespace winqor {
namespace {

// Input that always fits one level-9 block; larger inputs are compressed block by block.
constexpr size_t kOneBlock = 719'984;

using test::Noise;

// Runs of exactly four equal bytes: the run-length stage makes 5 bytes of every 4, so a
// block of this input is as large as any can be.
std::vector<uint8_t> RunsOfFour(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i / 4 % 251);
    return bytes;
}

std::vector<uint8_t> Text(size_t size) {
    const std::string line = "the archive holds a folder tree, record after record\n";
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(line[i % line.size()] ^ (i % 977 == 0));
    return bytes;
}

class Bzip2CompressorTest : public ::testing::Test {
  protected:
    void SetUp() override { SetDecoderVerbosity(0); }

    // Decodes data as the payload of an archive, the way every reader does: one library call.
    std::vector<uint8_t> ThroughTheReader(const std::vector<uint8_t>& data) {
        std::vector<uint8_t> archive;
        std::string reason;
        EXPECT_TRUE(WriteArchive(data, {}, archive, reason)) << reason;
        test::WriteFileBytes(dir_.path() / "a.aze", archive);
        std::u16string path;
        Utf8ToUtf16((dir_.path() / "a.aze").string(), path);
        ArchiveExtractor extractor;
        if (extractor.LoadFromFile(path.c_str()) != 1 || extractor.DecodePayload() != 1) {
            ADD_FAILURE() << DescribeFailure(extractor.failure());
            return {};
        }
        const std::span<const uint8_t> out = extractor.DecodedStream();
        return {out.begin(), out.end()};
    }

    test::TempDir dir_;
};

TEST_F(Bzip2CompressorTest, EverySizeAndKindOfInputDecodesInOnePass) {
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {"one byte", {42}},
        {"one block exactly", Text(kOneBlock)},
        {"one byte over a block", Text(kOneBlock + 1)},
        {"many blocks of text", Text(5 * kOneBlock + 17)},
        {"noise", Noise(2 * kOneBlock + 5, 7)},
        {"largest blocks", RunsOfFour(3 * kOneBlock)},
        {"all zero", std::vector<uint8_t>(kMaxPayloadSize, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(ThroughTheReader(c.data) == c.data);
    }
}

// Blocks are cut where the input's size says, so the stream is the same however many
// threads compress it: archives of one tree are equal on every machine.
TEST(CompressBzip2, SameBytesWhateverTheNumberOfThreads) {
    const std::vector<uint8_t> input = Text(5 * kOneBlock + 17);
    std::vector<uint8_t> alone, onFour, onEveryProcessor;
    ASSERT_TRUE(CompressBzip2(input, alone, 1));
    ASSERT_TRUE(CompressBzip2(input, onFour, 4));
    ASSERT_TRUE(CompressBzip2(input, onEveryProcessor));
    EXPECT_TRUE(onFour == alone);
    EXPECT_TRUE(onEveryProcessor == alone);
}

TEST(JoinSingleBlockStreams, RefusesWhatIsNotOneBlock) {
    std::vector<uint8_t> one, two, joined;
    ASSERT_TRUE(CompressBzip2(Text(1000), one));
    ASSERT_TRUE(CompressBzip2(Text(3 * kOneBlock), two));  // already several blocks
    EXPECT_TRUE(JoinSingleBlockStreams({one, one}, joined));
    EXPECT_FALSE(JoinSingleBlockStreams({one, two}, joined));
    EXPECT_FALSE(JoinSingleBlockStreams({}, joined));
    auto otherSize = one;
    otherSize[3] = '8';
    EXPECT_FALSE(JoinSingleBlockStreams({one, otherSize}, joined));
    auto damagedEnd = one;
    damagedEnd[damagedEnd.size() - 6] ^= 0x10;  // inside the end magic or the CRC
    EXPECT_FALSE(JoinSingleBlockStreams({one, damagedEnd}, joined));
    EXPECT_FALSE(JoinSingleBlockStreams({std::vector<uint8_t>(40, 0)}, joined));
}

}  // namespace
}  // namespace winqor
