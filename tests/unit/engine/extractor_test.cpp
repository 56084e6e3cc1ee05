#include "engine/archive_extractor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "base/text.h"
#include "format/archive_header.h"
#include "format/record_stream.h"
#include "protection/md5.h"
#include "protection/password.h"
#include "support/known_answers.h"
#include "support/test_support.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

std::vector<uint8_t> SampleRecords() {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    std::vector<uint8_t> text(3000);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('a' + i % 26);
    builder.AddFile(u"Setup.exe", kAttributeArchive, text);
    builder.AddDirectory(u"\\docs");
    builder.AddFile(u"empty.txt", 0, {});
    return builder.bytes();
}

// Header and payload put together by hand, for payloads no writer would make.
std::vector<uint8_t> Assemble(const std::vector<uint8_t>& payload, uint32_t unpackedSize) {
    HeaderFields fields;
    fields.packedSize = static_cast<uint32_t>(payload.size());
    fields.unpackedSize = unpackedSize;
    Md5Digest(fields.payloadDigest, payload.data(), static_cast<int32_t>(payload.size()));
    std::vector<uint8_t> archive(kHeaderBytes);
    BuildHeader(fields, archive.data());
    archive.insert(archive.end(), payload.begin(), payload.end());
    return archive;
}

std::vector<uint8_t> Compressed(const std::vector<uint8_t>& records) {
    std::vector<uint8_t> payload;
    EXPECT_TRUE(CompressBzip2(records, payload));
    return payload;
}

class ExtractorTest : public ::testing::Test {
  protected:
    void SetUp() override { SetDecoderVerbosity(0); }

    // Loads the bytes as an archive file and decodes it; the extractor is kept for inspection.
    int LoadAndDecode(const std::vector<uint8_t>& archive) {
        test::WriteFileBytes(dir_.path() / "a.aze", archive);
        const std::u16string path = PathOf("a.aze");
        extractor_ = std::make_unique<ArchiveExtractor>();
        const int loaded = extractor_->LoadFromFile(path.c_str());
        extractor_->CloseArchiveFile();
        extractor_->SetPasswordDigest(digest_);
        return loaded == 0 ? 0 : extractor_->DecodePayload();
    }

    std::u16string PathOf(const std::string& name) {
        std::u16string path;
        Utf8ToUtf16((dir_.path() / name).string(), path);
        return path;
    }

    test::TempDir dir_;
    std::unique_ptr<ArchiveExtractor> extractor_;
    uint8_t digest_[16] = {};  // the accepted password's, given to every extractor
};

TEST_F(ExtractorTest, ReferenceArchivesDecodeToTheirRecordStream) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    const auto answers = test::LoadKnownAnswers();
    for (const char* name : {"plain.aze", "encrypted.aze"}) {
        SCOPED_TRACE(name);
        for (const auto& answer : answers.passwords) {
            if (answer.password == u"Secret1") std::memcpy(digest_, answer.digest.data(), 16);
        }
        ASSERT_EQ(LoadAndDecode(test::ReadFileBytes(test::VectorsDir() / name)), 1);
        const std::span<const uint8_t> out = extractor_->DecodedStream();
        ASSERT_EQ(out.size(), UnpackedSize(*extractor_->header()));
        // The root record comes first: an empty name (the terminator alone).
        EXPECT_EQ(ReadLe32(out.data() + entry_offset::kNameLength), 2u);
        EXPECT_EQ(out[kEntryHeaderBytes] | out[kEntryHeaderBytes + 1], 0);
        EXPECT_GE(ReadLe32(out.data() + entry_offset::kSize), 34u);
        // The walk's cursor is at the stream's start: the whole stream walks.
        EXPECT_EQ(extractor_->CheckRecords(), 1);
        EXPECT_EQ(extractor_->failure(), Failure::kNone);
    }
}

TEST_F(ExtractorTest, EncryptedReferenceArchiveRefusesAWrongKey) {
    if (!test::HaveVectors()) GTEST_SKIP() << "no reference vectors beside the project";
    DerivePasswordDigest(digest_, u"secret1");
    EXPECT_EQ(LoadAndDecode(test::ReadFileBytes(test::VectorsDir() / "encrypted.aze")), 0);
    EXPECT_EQ(extractor_->failure(), Failure::kDigestMismatch);
}

struct LoadCase {
    const char* name;
    int result;
    Failure failure;
    std::vector<uint8_t> (*make)(const std::vector<uint8_t>& good,
                                 const std::vector<uint8_t>& records);
};

const LoadCase kLoadCases[] = {
    {"whole archive", 1, Failure::kNone, [](auto& good, auto&) { return good; }},
    {"empty file", 0, Failure::kShortHeader, [](auto&, auto&) { return std::vector<uint8_t>{}; }},
    {"255 bytes", 0, Failure::kShortHeader,
     [](auto& good, auto&) { return std::vector<uint8_t>(good.begin(), good.begin() + 255); }},
    {"one byte short", 0, Failure::kShortPayload,
     [](auto& good, auto&) { return std::vector<uint8_t>(good.begin(), good.end() - 1); }},
    {"extra bytes after the payload", 1, Failure::kNone,
     [](auto& good, auto&) {
         auto longer = good;
         longer.insert(longer.end(), 1000, 0xEE);
         return longer;
     }},
    {"headerSize 0 changes nothing", 1, Failure::kNone,
     [](auto& good, auto&) {
         auto changed = good;
         WriteLe32(changed.data() + header_offset::kHeaderSize, 0);
         return changed;
     }},
    {"encrypted 2 is plain", 1, Failure::kNone,
     [](auto& good, auto&) {
         auto changed = good;
         changed[header_offset::kEncrypted] = 2;
         return changed;
     }},
    {"bad magic", 0, Failure::kHeaderRejected,
     [](auto& good, auto&) {
         auto changed = good;
         changed[3] = 's';
         return changed;
     }},
    {"payload byte flipped", 0, Failure::kDigestMismatch,
     [](auto& good, auto&) {
         auto changed = good;
         changed[kHeaderBytes + 20] ^= 1;
         return changed;
     }},
    {"garbage after the stream, covered by the digest", 1, Failure::kNone,
     [](auto&, auto& records) {
         auto payload = Compressed(records);
         payload.insert(payload.end(), {1, 2, 3, 4, 5});
         return Assemble(payload, static_cast<uint32_t>(records.size()));
     }},
    {"unpackedSize one larger than the stream", 0, Failure::kSizeMismatch,
     [](auto&, auto& records) {
         return Assemble(Compressed(records), static_cast<uint32_t>(records.size() + 1));
     }},
    {"unpackedSize smaller than the stream", 1, Failure::kNone,
     [](auto&, auto& records) {
         return Assemble(Compressed(records), static_cast<uint32_t>(records.size() - 100));
     }},
    {"stream cut short, digest matching", 0, Failure::kSizeMismatch,
     [](auto&, auto& records) {
         auto payload = Compressed(records);
         payload.resize(payload.size() / 2);
         return Assemble(payload, static_cast<uint32_t>(records.size()));
     }},
    {"corrupt compressed data, digest matching", 0, Failure::kCorruptData,
     [](auto&, auto& records) {
         auto payload = Compressed(records);
         payload[payload.size() / 2] ^= 0x55;
         return Assemble(payload, static_cast<uint32_t>(records.size()));
     }},
    {"not bzip2 at all", 0, Failure::kCorruptData,
     [](auto&, auto&) { return Assemble(std::vector<uint8_t>(64, 'x'), 100); }},
};

TEST_F(ExtractorTest, LoadAndDecodeCases) {
    const auto records = SampleRecords();
    std::vector<uint8_t> good;
    std::string error;
    ASSERT_TRUE(WriteArchive(records, {}, good, error)) << error;
    for (const auto& c : kLoadCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoadAndDecode(c.make(good, records)), c.result);
        EXPECT_EQ(extractor_->failure(), c.failure) << DescribeFailure(extractor_->failure());
        if (c.result == 1) {
            const std::span<const uint8_t> out = extractor_->DecodedStream();
            const size_t compared = std::min<size_t>(records.size(), out.size());
            EXPECT_EQ(std::memcmp(out.data(), records.data(), compared), 0);
        }
    }
}

// Every one of the 16 stored digest bytes counts, in a plain and in an encrypted archive.
TEST_F(ExtractorTest, EachStoredDigestByteChangedAloneRefusesTheArchive) {
    ArchiveOptions encrypted;
    encrypted.passwordDigest.emplace();
    DerivePasswordDigest(encrypted.passwordDigest->data(), u"Secret1");
    std::memcpy(digest_, encrypted.passwordDigest->data(), 16);
    for (const ArchiveOptions& options : {ArchiveOptions{}, encrypted}) {
        std::vector<uint8_t> good;
        std::string error;
        ASSERT_TRUE(WriteArchive(SampleRecords(), options, good, error)) << error;
        ASSERT_EQ(LoadAndDecode(good), 1);
        for (uint32_t i = 0; i < 16; ++i) {
            SCOPED_TRACE("digest byte " + std::to_string(i));
            auto changed = good;
            changed[header_offset::kPayloadDigest + i] ^= 0x80;
            EXPECT_EQ(LoadAndDecode(changed), 0);
            EXPECT_EQ(extractor_->failure(), Failure::kDigestMismatch);
        }
    }
}

TEST_F(ExtractorTest, MissingFileFailsToOpen) {
    ArchiveExtractor extractor;
    const auto path = PathOf("does-not-exist.aze");
    EXPECT_EQ(extractor.LoadFromFile(path.c_str()), 0);
    EXPECT_EQ(extractor.failure(), Failure::kOpenFailed);
    EXPECT_EQ(extractor.failureWhere(), path);
}

TEST_F(ExtractorTest, EncryptedArchivesOpenOnlyWithTheirKey) {
    const auto records = SampleRecords();
    for (int tail = 0; tail < 8; ++tail) {
        // Vary the stored length so that every remainder of whole blocks is seen.
        auto padded = records;
        RecordStreamBuilder extra;
        extra.AddDirectory(std::u16string(static_cast<size_t>(tail) + 1, u'x').insert(0, u"\\"));
        padded.insert(padded.end(), extra.bytes().begin(), extra.bytes().end());
        ArchiveOptions options;
        options.passwordDigest.emplace();
        DerivePasswordDigest(options.passwordDigest->data(), u"Secret1");
        options.keySeed = {0xF7, 0x3C, 0xA9, static_cast<uint8_t>(tail)};
        std::vector<uint8_t> archive;
        std::string error;
        ASSERT_TRUE(WriteArchive(padded, options, archive, error)) << error;
        std::memcpy(digest_, options.passwordDigest->data(), 16);
        EXPECT_EQ(LoadAndDecode(archive), 1) << tail;
        DerivePasswordDigest(digest_, u"Secret2");
        EXPECT_EQ(LoadAndDecode(archive), 0) << tail;
        EXPECT_EQ(extractor_->failure(), Failure::kDigestMismatch);
    }
}

TEST_F(ExtractorTest, ValidateHeaderWithoutHeaderFails) {
    ArchiveExtractor extractor;
    EXPECT_EQ(extractor.ValidateHeader(nullptr), 0);
    EXPECT_EQ(extractor.DecodePayload(), 0);
    // Nothing was given: no header, no records to show, no root.
    EXPECT_EQ(extractor.header(), nullptr);
    EXPECT_TRUE(extractor.DecodedStream().empty());
    EXPECT_EQ(extractor.folder()[0], 0);
}

}  // namespace
}  // namespace winqor
