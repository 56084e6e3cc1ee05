#include "engine/bzip2_parallel.h"
#include "engine/decoded_prefix.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "engine/archive_extractor.h"
#include "engine/bzip2_blocks.h"
#include "engine/bzip2_decoder.h"
#include "engine/decoder_threads.h"
#include "format/archive_header.h"
#include "format/bzip2_support.h"
#include "support/test_support.h"
#include "writer/archive_writer.h"
#include "writer/bzip2_join.h"

namespace winqor {
namespace {

using Bytes = std::vector<uint8_t>;

// Words in a pseudo-random order with the odd run: compresses like text, no two blocks alike.
Bytes Mixed(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"archive ", "block ", "stream\n", "zzzzzzzzzz", "0x3141 ",
                                         "decode ",  "\t",     "magic ",   "payload ",   "CRC; "};
    Bytes bytes;
    while (bytes.size() < size) {
        seed = seed * 1664525 + 1013904223;
        const std::string word = kWords[(seed >> 16) % 10];
        bytes.insert(bytes.end(), word.begin(), word.end());
    }
    bytes.resize(size);
    return bytes;
}

// What the bzip2 program writes: the library's own one-call compression.
Bytes Bzip2Program(const Bytes& plain, int level) {
    Bytes packed(plain.size() + plain.size() / 100 + 600);
    auto size = static_cast<unsigned>(packed.size());
    // The library wants a source even for no bytes.
    char none = 0;
    char* source =
        plain.empty() ? &none : reinterpret_cast<char*>(const_cast<uint8_t*>(plain.data()));
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(packed.data()), &size, source,
                                       static_cast<unsigned>(plain.size()), level, 0, 0),
              BZ_OK);
    packed.resize(size);
    return packed;
}

bool WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

Bytes ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Bytes AzeCreate(const Bytes& plain) {
    Bytes packed;
    EXPECT_TRUE(CompressBzip2(plain, packed));
    return packed;
}

// A block whose symbol map spells magic: the map has one bit per byte value the block uses,
// 16 values to a row, and follows the block's first 137 bits. Every row must be used, so the
// rows around the magic use one value each; no byte repeats, so no run-length code joins in.
Bytes SpellingInTheSymbolMap(uint64_t magic) {
    uint16_t rows[16];
    std::fill(rows, rows + 16, uint16_t{0x0100});
    for (int i = 0; i < 3; ++i) rows[1 + i] = static_cast<uint16_t>(magic >> (32 - 16 * i));
    Bytes values;
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < 16; ++column) {
            if (rows[row] >> (15 - column) & 1)
                values.push_back(static_cast<uint8_t>(row * 16 + column));
        }
    }
    Bytes plain;
    for (uint32_t i = 0, seed = 7; plain.size() < 60'000; ++i) {
        seed = seed * 1664525 + 1013904223;
        const uint8_t value = values[(seed >> 16) % values.size()];
        if (plain.empty() || plain.back() != value) plain.push_back(value);
    }
    return plain;
}

struct Sample {
    Bytes plain;
    Bytes packed;
};

// Three blocks compressed apart and joined, the middle one holding magic at a false place.
Sample FalseMagicInTheMiddleBlock(uint64_t magic) {
    const std::vector<Bytes> parts = {Mixed(300'000, 1), SpellingInTheSymbolMap(magic),
                                      Mixed(300'000, 2)};
    Sample sample;
    std::vector<Bytes> streams;
    for (const Bytes& part : parts) {
        sample.plain.insert(sample.plain.end(), part.begin(), part.end());
        streams.push_back(AzeCreate(part));
    }
    EXPECT_TRUE(JoinSingleBlockStreams(streams, sample.packed));
    // The magics found: one per block and the end, and the false one.
    EXPECT_EQ(FindMarkers(sample.packed).size(), 5u);
    return sample;
}

struct Result {
    int result;
    Failure failure;
    Bytes output;
};

// Decompress as the extractor runs it, on the given number of threads (1: the one call).
Result Decompress(const Bytes& packed, uint32_t unpackedSize, unsigned threads) {
    SetDecoderThreads(threads);
    HeaderFields fields;
    fields.packedSize = static_cast<uint32_t>(packed.size());
    fields.unpackedSize = unpackedSize;
    Bytes image(kHeaderBytes);
    BuildHeader(fields, image.data());
    image.insert(image.end(), packed.begin(), packed.end());
    ArchiveExtractor extractor;
    EXPECT_EQ(extractor.LoadFromImage(image.data(), image.size()), 1);
    Result result{extractor.Decompress(), extractor.failure(), {}};
    if (result.result == 1) {
        const std::span<const uint8_t> out = extractor.DecodedStream();
        result.output.assign(out.begin(), out.end());
    }
    SetDecoderThreads(0);
    return result;
}

void ExpectSameAsOneCall(const Bytes& packed, uint32_t unpackedSize) {
    const Result oneCall = Decompress(packed, unpackedSize, 1);
    const Result parallel = Decompress(packed, unpackedSize, 4);
    EXPECT_EQ(parallel.result, oneCall.result);
    EXPECT_EQ(parallel.failure, oneCall.failure) << DescribeFailure(parallel.failure);
    EXPECT_TRUE(parallel.output == oneCall.output);
}

constexpr uint64_t kMegabyte = 1024 * 1024;

int DecodeInParallel(const Bytes& packed, Bytes& out, unsigned threads = 4,
                     uint64_t budget = 64 * kMegabyte) {
    return DecodeBlocksInParallel(packed.data(), static_cast<uint32_t>(packed.size()), out.data(),
                                  static_cast<uint32_t>(out.size()), threads, budget);
}

// What another compressor makes of plain, through its program; empty when it is missing.
Bytes ThroughProgram(const std::string& command, const Bytes& plain) {
    const std::string in = testing::TempDir() + "/peer-input";
    const std::string out = testing::TempDir() + "/peer-output";
    EXPECT_TRUE(WriteAll(in, plain));
    Bytes packed;
    if (std::system((command + " < " + in + " > " + out + " 2>/dev/null").c_str()) == 0)
        packed = ReadAll(out);
    std::remove(in.c_str());
    std::remove(out.c_str());
    return packed;
}

// Decodes as the walk that writes while decoding reads: a reader follows the prefix the decoder
// says is in place, and every byte it is shown is already the plain text's. True when it was.
bool PrefixHoldsThePlainText(const Bytes& packed, const Bytes& plain, unsigned processors,
                             uint64_t budget) {
    Bytes out(plain.size());
    DecodedPrefix prefix;
    bool alike = true;
    std::thread reader([&] {
        uint32_t end = 0;
        while (end < out.size()) {
            const uint32_t from = end;
            end = static_cast<uint32_t>(std::min<size_t>(end + 64 * 1024, out.size()));
            if (!prefix.Await(end)) return;
            alike = alike && std::memcmp(out.data() + from, plain.data() + from, end - from) == 0;
        }
    });
    const int whole =
        DecodeBlocksInParallel(packed.data(), static_cast<uint32_t>(packed.size()), out.data(),
                               static_cast<uint32_t>(out.size()), processors, budget, &prefix);
    prefix.End(whole != 0);
    reader.join();
    return alike && whole != 0;
}

class ParallelDecodeTest : public ::testing::Test {
  protected:
    void SetUp() override { SetDecoderVerbosity(0); }
};

TEST_F(ParallelDecodeTest, WholeStreamsOfSeveralBlocksDecodeInParallel) {
    const Bytes text = Mixed(2'000'000, 3);
    const Bytes shortText = Mixed(450'000, 4);
    const struct {
        const char* name;
        Sample sample;
    } cases[] = {
        {"aze create", {text, AzeCreate(text)}},
        {"bzip2 -1", {shortText, Bzip2Program(shortText, 1)}},
        {"bzip2 -9", {text, Bzip2Program(text, 9)}},
        {"a block magic inside a block", FalseMagicInTheMiddleBlock(0x314159265359)},
        {"an end magic inside a block", FalseMagicInTheMiddleBlock(0x177245385090)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out(c.sample.plain.size());
        EXPECT_EQ(DecodeInParallel(c.sample.packed, out), 1);
        EXPECT_TRUE(out == c.sample.plain);
        const Result result = Decompress(c.sample.packed, static_cast<uint32_t>(out.size()), 4);
        EXPECT_EQ(result.result, 1);
        EXPECT_TRUE(result.output == c.sample.plain);
    }
}

// The streams of other compressors, replayed over processors and budgets: however many
// threads decode and however few blocks may wait aside, the bytes are the one call's, and
// so is every byte a walk is shown while the later blocks still decode. A
// budget of one thread takes the one call without looking for blocks.
TEST_F(ParallelDecodeTest, PeersStreamsDecodeAlikeOnEveryThreadCountAndBudget) {
    const Bytes text = Mixed(1'000'000, 9);
    const Bytes shortText = Mixed(700'000, 10);
    struct Peer {
        std::string name;
        Bytes plain;
        Bytes packed;
    };
    std::vector<Peer> peers = {
        {"aze create", text, AzeCreate(text)},
        {"bzip2 -1", shortText, Bzip2Program(shortText, 1)},
        {"bzip2 -5", text, Bzip2Program(text, 5)},
        {"bzip2 -9", text, Bzip2Program(text, 9)},
        {"a block magic inside a block", {}, {}},
    };
    const Sample falseMagic = FalseMagicInTheMiddleBlock(0x314159265359);
    peers.back().plain = falseMagic.plain;
    peers.back().packed = falseMagic.packed;
    // Encoders of their own: their tables and block cuts differ from the library's.
    int missing = 0;
    for (const char* program : {"lbzip2 -9 -n2", "lbzip2 -1 -n3"}) {
        Bytes packed = ThroughProgram(program, text);
        if (packed.empty()) {
            ++missing;
        } else {
            peers.push_back({program, text, std::move(packed)});
        }
    }
    if (missing > 0) std::printf("lbzip2 missing: %d of the peers' streams skipped\n", missing);
    const struct {
        unsigned processors;
        uint64_t budget;
    } settings[] = {{2, 64 * kMegabyte},
                    {3, 12 * kMegabyte},
                    {8, 1024 * kMegabyte},
                    {4, 6 * kMegabyte},
                    {1, 1024 * kMegabyte}};
    for (const Peer& peer : peers) {
        for (const auto& setting : settings) {
            SCOPED_TRACE(peer.name + " on " + std::to_string(setting.processors) + " processors, " +
                         std::to_string(setting.budget / kMegabyte) + " MB");
            Bytes out(peer.plain.size());
            const int level = StreamLevel(peer.packed);
            const bool oneThread =
                DecodingThreads(setting.processors, setting.budget, level, SIZE_MAX) == 1;
            EXPECT_EQ(DecodeInParallel(peer.packed, out, setting.processors, setting.budget),
                      oneThread ? 0 : 1);
            EXPECT_TRUE(oneThread || out == peer.plain);
            EXPECT_TRUE(oneThread || PrefixHoldsThePlainText(peer.packed, peer.plain,
                                                             setting.processors, setting.budget));
            SetDecoderMemoryBudget(setting.budget);
            const Result result =
                Decompress(peer.packed, static_cast<uint32_t>(out.size()), setting.processors);
            SetDecoderMemoryBudget(0);
            EXPECT_EQ(result.result, 1);
            EXPECT_TRUE(result.output == peer.plain);
        }
    }
}

// The choice goes to the debug channel only when the host asks (aze -v): the extractor's own
// trace is the output stage's.
TEST_F(ParallelDecodeTest, TheThreadCountIsReportedOnlyWhenAskedFor) {
    const Bytes text = Mixed(1'500'000, 11);
    const Bytes packed = AzeCreate(text);
    const Bytes oneBlock = AzeCreate(Mixed(5'000, 12));
    const struct {
        const char* name;
        const Bytes& packed;
        bool reported;
        unsigned processors;
        uint64_t budget;
        std::vector<std::string> said;
    } cases[] = {
        {"not asked", packed, false, 4, 64 * kMegabyte, {}},
        {"three blocks on four processors",
         packed,
         true,
         4,
         64 * kMegabyte,
         {"decoder: 3 threads for 3 blocks (processors: 4, memory budget: 64 MB)\n"}},
        {"a budget of two threads",
         packed,
         true,
         4,
         11 * kMegabyte,
         {"decoder: 2 threads for 3 blocks (processors: 4, memory budget: 11 MB)\n"}},
        {"one block",
         oneBlock,
         true,
         4,
         64 * kMegabyte,
         {"decoder: 1 thread for 1 blocks (processors: 4, memory budget: 64 MB)\n"}},
        {"one processor",
         packed,
         true,
         1,
         64 * kMegabyte,
         {"decoder: 1 thread, one call (processors: 1, memory budget: 64 MB)\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetDecoderChoiceReported(c.reported);
        test::DebugCapture capture;
        Bytes out(c.packed == packed ? text.size() : 5'000);
        DecodeInParallel(c.packed, out, c.processors, c.budget);
        SetDecoderChoiceReported(false);
        EXPECT_EQ(capture.messages(), c.said);
    }
}

TEST_F(ParallelDecodeTest, OneBlockEmptyStreamsAndOneThreadTakeTheOneCall) {
    const Bytes text = Mixed(450'000, 5);
    const struct {
        const char* name;
        Bytes packed;
        uint32_t unpackedSize;
        unsigned threads;
    } cases[] = {
        {"one block", Bzip2Program(Mixed(5'000, 6), 9), 5'000, 4},
        {"empty stream", Bzip2Program({}, 9), 1, 4},
        {"one thread", Bzip2Program(text, 1), static_cast<uint32_t>(text.size()), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out(c.unpackedSize);
        EXPECT_EQ(DecodeInParallel(c.packed, out, c.threads), 0);
        ExpectSameAsOneCall(c.packed, c.unpackedSize);
    }
}

// Every way a stream can be wrong fails, or succeeds, exactly as in one call.
TEST_F(ParallelDecodeTest, DamagedStreamsEndAsInOneCall) {
    const Bytes text = Mixed(450'000, 7);
    const Bytes good = Bzip2Program(text, 1);
    const auto size = static_cast<uint32_t>(text.size());
    const auto changed = [&](auto change) {
        Bytes packed = good;
        change(packed);
        return packed;
    };
    const struct {
        const char* name;
        Bytes packed;
        uint32_t unpackedSize;
    } cases[] = {
        {"whole", good, size},
        {"corrupt data in the middle", changed([](Bytes& p) { p[p.size() / 2] ^= 0x55; }), size},
        {"corrupt data in the last block", changed([](Bytes& p) { p[p.size() - 200] ^= 0x10; }),
         size},
        {"the first block's CRC", changed([](Bytes& p) { p[11] ^= 1; }), size},
        {"the combined CRC", changed([](Bytes& p) { p[p.size() - 2] ^= 4; }), size},
        {"cut in half", changed([](Bytes& p) { p.resize(p.size() / 2); }), size},
        {"cut before the end magic", changed([](Bytes& p) { p.resize(p.size() - 11); }), size},
        {"unpackedSize one larger", good, size + 1},
        {"unpackedSize smaller", good, size - 100},
        {"garbage after the stream", changed([](Bytes& p) {
             p.insert(p.end(), {1, 2, 3});
         }),
         size},
        {"a second stream, counted",
         changed([&](Bytes& p) { p.insert(p.end(), good.begin(), good.end()); }), size * 2},
        {"a second stream, not counted",
         changed([&](Bytes& p) { p.insert(p.end(), good.begin(), good.end()); }), size},
        {"not bzip2 at all", Bytes(64, 'x'), 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectSameAsOneCall(c.packed, c.unpackedSize);
    }
}

TEST_F(ParallelDecodeTest, TheLibraryTalksAtTheHostsVerbosityForEveryBlock) {
    const Bytes text = Mixed(450'000, 8);
    const Bytes packed = Bzip2Program(text, 1);
    const size_t blocks = FindMarkers(packed).size() - 1;
    ASSERT_GE(blocks, 4u);
    Bytes out(text.size());
    SetDecoderVerbosity(2);
    testing::internal::CaptureStderr();
    EXPECT_EQ(DecodeInParallel(packed, out), 1);
    const std::string said = testing::internal::GetCapturedStderr();
    size_t reported = 0;
    for (size_t at = said.find("huff+mtf"); at != std::string::npos;
         at = said.find("huff+mtf", at + 1))
        ++reported;
    EXPECT_EQ(reported, blocks);
}

}  // namespace
}  // namespace winqor
