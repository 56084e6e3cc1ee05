// The walk that writes while the blocks decode, against the walk that waits for the whole
// stream: for the same archive and destination, the same outcome, failure, tree and trace.
// Nothing has its name before the stream is whole and every record passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/bzip2_decoder.h"
#include "engine/decoded_archive.h"
#include "engine/decoder_threads.h"
#include "engine/sandboxed_runner.h"
#include "format/archive_header.h"
#include "protection/md5.h"
#include "support/test_support.h"
#include "support/tree.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

// Letters at random: bzip2 keeps about five bits of each, so 800 kB fill most of a block.
std::vector<uint8_t> Letters(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<uint8_t>('a' + (seed >> 16) % 26);
    }
    return bytes;
}

// Four folders of one large file each, then lastFolder with a small file: five blocks.
std::vector<uint8_t> Records(std::u16string_view lastFolder) {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"first.txt", 0x20, Letters(1000, 1));
    for (char16_t folder = u'a'; folder < u'e'; ++folder) {
        builder.AddDirectory(std::u16string(u"\\") + folder);
        builder.AddFile(u"big.txt", 0x20, Letters(800'000, folder));
    }
    builder.AddDirectory(lastFolder);
    builder.AddFile(u"x.bin", 0x20, Letters(100, 7));
    return builder.bytes();
}

std::vector<uint8_t> Assemble(const std::vector<uint8_t>& payload, size_t unpacked) {
    HeaderFields fields;
    fields.packedSize = static_cast<uint32_t>(payload.size());
    fields.unpackedSize = static_cast<uint32_t>(unpacked);
    Md5Digest(fields.payloadDigest, payload.data(), static_cast<int32_t>(payload.size()));
    std::vector<uint8_t> archive(kHeaderBytes);
    BuildHeader(fields, archive.data());
    archive.insert(archive.end(), payload.begin(), payload.end());
    return archive;
}

struct Outcome {
    ExtractionOutcome outcome;
    Failure failure;
    std::vector<std::string> tree;
    std::vector<std::string> trace;
};

struct OverlapCase {
    const char* name;
    std::u16string lastFolder;
    // Damages the payload; its digest is taken after.
    std::function<void(std::vector<uint8_t>&)> damage;
    std::function<void(const fs::path&)> prepare;
    std::optional<uint64_t> freeBytes;
    ExtractionOutcome outcome;
    Failure failure;
};

class OverlappedWalkTest : public ::testing::Test {
  protected:
    void SetUp() override { SetDecoderVerbosity(0); }
    void TearDown() override { SetDecoderThreads(0); }

    Outcome Extract(const OverlapCase& c, const std::vector<uint8_t>& archive, unsigned threads) {
        fs::remove_all(root_);
        fs::create_directories(root_);
        if (c.prepare) c.prepare(root_);
        SetDecoderThreads(threads);
        ExtractionRequest request;
        request.mode = ExtractionMode::kExtract;
        request.archive = archive;
        Utf8ToUtf16(root_.string(), request.rootPath);
        EXPECT_EQ(OpenRootFolder(request.rootPath.c_str(), RootTrust::kChosen, request.root),
                  OpenRootResult::kOpened);
        request.freeBytes = c.freeBytes;
        request.decoderVerbosity = 0;
        test::CurrentDirGuard keepFolder;
        test::DebugCapture capture;
        const ExtractionResult result = ServeExtraction(request, {});
        CloseDirectory(request.root);
        std::vector<std::string> trace = capture.messages();
        std::erase_if(trace, [](const std::string& line) { return line.rfind("decoder", 0) == 0; });
        return {result.outcome, result.failure, test::DescribeTree(root_), trace};
    }

    test::TempDir dir_;
    fs::path root_ = dir_.path() / "root";
};

TEST_F(OverlappedWalkTest, WritingWhileDecodingEndsAsWritingAfterIt) {
    const OverlapCase cases[] = {
        {"a whole archive", u"\\e", {}, {}, {}, ExtractionOutcome::kComplete, Failure::kNone},
        {"a damaged block after two whole ones",
         u"\\e",
         [](std::vector<uint8_t>& payload) { payload[payload.size() / 2] ^= 0x55; },
         {},
         {},
         ExtractionOutcome::kDamaged,
         Failure::kCorruptData},
        {"a name that leaves the root, last",
         u"\\..\\e",
         {},
         {},
         {},
         ExtractionOutcome::kRefused,
         Failure::kUnsafeName},
        {"a folder in the way of the last file",
         u"\\e",
         {},
         [](const fs::path& root) { fs::create_directories(root / "e" / "x.bin"); },
         {},
         ExtractionOutcome::kWritingStopped,
         Failure::kFolderInTheWay},
        {"room for the first folders only",
         u"\\e",
         {},
         {},
         1'700'000,
         ExtractionOutcome::kWritingStopped,
         Failure::kNoRoom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> records = Records(c.lastFolder);
        std::vector<uint8_t> payload;
        ASSERT_TRUE(CompressBzip2(records, payload));
        if (c.damage) c.damage(payload);
        const std::vector<uint8_t> archive = Assemble(payload, records.size());
        const Outcome overlapped = Extract(c, archive, 2);
        const Outcome after = Extract(c, archive, 1);
        EXPECT_EQ(overlapped.outcome, c.outcome);
        EXPECT_EQ(overlapped.failure, c.failure) << DescribeFailure(overlapped.failure);
        EXPECT_EQ(overlapped.outcome, after.outcome);
        EXPECT_EQ(overlapped.failure, after.failure);
        EXPECT_EQ(overlapped.tree, after.tree);
        EXPECT_EQ(overlapped.trace, after.trace);
        if (c.outcome != ExtractionOutcome::kComplete) {
            // Only what was there before: the root, and the folder in the way.
            EXPECT_LE(overlapped.tree.size(), 3u) << ::testing::PrintToString(overlapped.tree);
        } else {
            EXPECT_EQ(overlapped.tree.size(), 12u) << ::testing::PrintToString(overlapped.tree);
        }
    }
}

}  // namespace
}  // namespace winqor
