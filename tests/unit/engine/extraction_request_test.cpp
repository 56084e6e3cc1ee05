#include "engine/extraction_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

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
