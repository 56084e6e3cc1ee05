#include "engine/extraction_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/limits.h"

namespace winqor {
namespace {

// The parent hands the child everything a request says but the archive and the root (which go
// as descriptors); the child reads back what was meant.
TEST(ExtractionRequestTest, TravelsWhole) {
    ExtractionRequest sent;
    sent.mode = ExtractionMode::kListJson;
    sent.passwordDigest.emplace();
    for (size_t i = 0; i < sent.passwordDigest->size(); ++i)
        (*sent.passwordDigest)[i] = uint8_t(i + 1);
    sent.rootPath = u"/tmp/d\u00e9j\u00e0";
    sent.trust = RootTrust::kOwned;
    sent.watch = u"Setup.exe";
    sent.listing = ListingOutput::kStandardOutput;
    sent.decoderVerbosity = 0;
    sent.freeBytes = uint64_t{5} << 40;
    ExtractionRequest taken;
    ASSERT_TRUE(DecodeRequest(EncodeRequest(sent), taken));
    EXPECT_EQ(taken.mode, sent.mode);
    EXPECT_EQ(taken.passwordDigest, sent.passwordDigest);
    EXPECT_EQ(taken.rootPath, sent.rootPath);
    EXPECT_EQ(taken.trust, sent.trust);
    EXPECT_EQ(taken.watch, sent.watch);
    EXPECT_EQ(taken.listing, sent.listing);
    EXPECT_EQ(taken.decoderVerbosity, sent.decoderVerbosity);
    EXPECT_EQ(taken.freeBytes, sent.freeBytes);

    const std::string wire = EncodeRequest(sent);
    EXPECT_FALSE(DecodeRequest(wire.substr(0, wire.size() - 1), taken)) << "cut short";
    EXPECT_FALSE(DecodeRequest(wire + "x", taken)) << "bytes after the end";
    std::string badMode = wire;
    badMode[0] = 9;
    EXPECT_FALSE(DecodeRequest(badMode, taken)) << "an unknown mode";
}

// The child takes from the request only what this program writes: each field bent past what
// it may hold is refused, and so is a text longer than the bytes or than any path.
TEST(ExtractionRequestTest, RefusesEveryBentField) {
    ExtractionRequest sent;
    sent.rootPath = u"/tmp/out";
    sent.watch = u"Setup.exe";
    const std::string wire = EncodeRequest(sent);
    // The fixed part: mode, digest flag, trust, listing, verbosity, free-space flag (a byte
    // each), two reserved, the digest (16), then the texts' lengths in units.
    const auto patchedByte = [&](size_t offset, uint8_t value) {
        std::string bytes = wire;
        bytes[offset] = static_cast<char>(value);
        return bytes;
    };
    const auto patchedLength = [&](size_t offset, uint32_t value) {
        std::string bytes = wire;
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return bytes;
    };
    // Whole in the bytes, so that only the bound on a path refuses it.
    const auto tooLong = [&](std::u16string ExtractionRequest::*text) {
        ExtractionRequest bent = sent;
        bent.*text = std::u16string(kMaxPath, u'a');
        return EncodeRequest(bent);
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"a mode past the last", patchedByte(0, uint8_t(ExtractionMode::kExtract) + 1)},
        {"a digest flag other than 0 or 1", patchedByte(1, 2)},
        {"a trust past the last", patchedByte(2, uint8_t(RootTrust::kOwned) + 1)},
        {"a listing output past the last",
         patchedByte(3, uint8_t(ListingOutput::kStandardOutput) + 1)},
        {"a decoder verbosity above 4", patchedByte(4, 5)},
        {"a free-space flag other than 0 or 1", patchedByte(5, 2)},
        {"a root path longer than the bytes", patchedLength(24, 100)},
        {"a root path as long as no path may be", tooLong(&ExtractionRequest::rootPath)},
        {"a watched name as long as no path may be", tooLong(&ExtractionRequest::watch)},
        {"a watched name longer than the bytes", patchedLength(28, 10)},
        {"nothing but the mode", wire.substr(0, 1)},
        {"half a unit of text", wire.substr(0, wire.size() - 1)},
    };
    for (const Case& c : cases) {
        ExtractionRequest taken;
        EXPECT_FALSE(DecodeRequest(c.bytes, taken)) << c.what;
    }
    // The edges that stay in: the last value of each field.
    ExtractionRequest edge;
    edge.mode = ExtractionMode::kExtract;
    edge.trust = RootTrust::kOwned;
    edge.listing = ListingOutput::kStandardOutput;
    edge.decoderVerbosity = 4;
    edge.rootPath = std::u16string(kMaxPath - 1, u'a');
    ExtractionRequest taken;
    taken.freeBytes = 1;
    taken.passwordDigest.emplace();
    ASSERT_TRUE(DecodeRequest(EncodeRequest(edge), taken));
    EXPECT_EQ(taken.rootPath.size(), size_t(kMaxPath - 1));
    EXPECT_FALSE(taken.freeBytes) << "a request without free space leaves none from before";
    EXPECT_FALSE(taken.passwordDigest) << "a request without a digest leaves none from before";
}

// The parent takes from the child's outcome only what holds together: each way a hostile child
// could bend a field is refused.
TEST(ExtractionOutcomeTest, RefusesEveryBentField) {
    ExtractionResult truth;
    truth.outcome = ExtractionOutcome::kWritingStopped;
    truth.failure = Failure::kWriteFailed;
    truth.failureWhere = u"sub/a.txt";
    truth.summary = "2 folders, 3 files, 40 bytes";
    truth.watched = FileId{7, 9};
    const std::vector<std::u16string> folder = {u"sub", u"deep"};

    ExtractionResult got;
    std::vector<std::u16string> lastFolder;
    ASSERT_TRUE(DecodeOutcome(EncodeOutcome(truth, folder), got, lastFolder));
    EXPECT_EQ(got.outcome, truth.outcome);
    EXPECT_EQ(got.failure, truth.failure);
    EXPECT_EQ(got.failureWhere, truth.failureWhere);
    EXPECT_EQ(got.summary, truth.summary);
    EXPECT_EQ(got.watched, truth.watched);
    EXPECT_EQ(lastFolder, folder);

    struct Case {
        const char* what;
        std::function<std::string()> bytes;
    };
    const auto with = [&](const std::function<void(ExtractionResult&)>& bend,
                          std::vector<std::u16string> components = {}) {
        ExtractionResult bent = truth;
        bend(bent);
        return EncodeOutcome(bent, components);
    };
    // The fixed part's offsets: the identity (16 bytes), then outcome, failure, watched.
    const auto patched = [&](size_t offset, uint32_t value) {
        std::string bytes = EncodeOutcome(truth, {});
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return bytes;
    };
    const Case cases[] = {
        {"an outcome this program does not know", [&] { return patched(16, 9); }},
        {"an unknown failure", [&] { return patched(20, 999); }},
        {"a watched flag other than 0 or 1", [&] { return patched(24, 2); }},
        {"an identity without a watched file", [&] { return patched(24, 0); }},
        {"a place longer than the message", [&] { return patched(28, 1000); }},
        {"a summary that a terminal acts on",
         [&] { return with([](auto& r) { r.summary = "\x1b[2J 1 files"; }); }},
        {"a summary past its bound",
         [&] { return with([](auto& r) { r.summary = std::string(200, '1'); }); }},
        {"a folder above the root", [&] { return with([](auto&) {}, {u".."}); }},
        {"the folder itself",
         [&] {
             return with([](auto&) {}, {u"sub", u"."});
         }},
        {"a folder holding a backslash", [&] { return with([](auto&) {}, {u"a\\b"}); }},
        {"a listing-lost flag other than 0 or 1", [&] { return patched(36, 2); }},
        {"a summary longer than the message", [&] { return patched(32, 1000); }},
        {"a folder that is a path", [&] { return with([](auto&) {}, {u"a/b"}); }},
        {"an empty folder name", [&] { return with([](auto&) {}, {u""}); }},
        {"a folder without its end",
         [&] { return EncodeOutcome(truth, {}) + std::string("a\0", 2); }},
        {"half a unit", [&] { return EncodeOutcome(truth, {}) + "x"; }},
        {"cut short", [&] { return EncodeOutcome(truth, {}).substr(0, 10); }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(DecodeOutcome(c.bytes(), got, lastFolder)) << c.what;
    }
}

}  // namespace
}  // namespace winqor
