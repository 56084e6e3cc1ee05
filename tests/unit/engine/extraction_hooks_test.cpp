#include "engine/extraction_hooks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/bzip2_decoder.h"
#include "engine/json_listing.h"
#include "engine/sandboxed_runner.h"
#include "format/record_stream.h"
#include "platform/tree_writing.h"
#include "support/test_support.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> SampleArchive() {
    RecordStreamBuilder records;
    records.AddDirectory(u"");
    records.AddFile(u"hello.txt", kAttributeArchive, std::vector<uint8_t>{'h', 'i', '\n'});
    std::vector<uint8_t> archive;
    std::string error;
    EXPECT_TRUE(WriteArchive(records.bytes(), ArchiveOptions{}, archive, error)) << error;
    return archive;
}

// Hooks that note what the engine asked, and answer as the test sets them.
class NotingHooks final : public ExtractionHooks {
  public:
    uint64_t DecoderMemoryBudget(uint64_t normal) const override { return normal / 4; }
    bool ChildMayStart(std::string& whyNot) const override {
        whyNot = refusal;
        return refusal.empty();
    }
    void OutputAboutToWrite() const override {
        ++writesAnnounced;
        fileThereBefore = fs::exists(watchedFile);
    }

    std::string refusal;
    fs::path watchedFile;
    mutable int writesAnnounced = 0;
    mutable bool fileThereBefore = false;
};

// Installs hooks for the life of the object, then puts back those that were there (a test
// build's own among them).
class HooksInstalled {
  public:
    explicit HooksInstalled(const ExtractionHooks& hooks) : previous_(CurrentExtractionHooks()) {
        InstallExtractionHooks(&hooks);
    }
    ~HooksInstalled() { InstallExtractionHooks(&previous_); }

  private:
    const ExtractionHooks& previous_;
};

// The output stage announces its writes once, before the first file exists, and only in the
// mode that writes: a probe called after the first write, or in a listing, would prove nothing.
TEST(ExtractionHooksTest, OutputAnnouncesItsWritesBeforeTheFirstOne) {
    OfferJsonListing(NewJsonListingSink);
    const struct {
        ExtractionMode mode;
        int announced;
    } cases[] = {{ExtractionMode::kCheck, 0},
                 {ExtractionMode::kList, 0},
                 {ExtractionMode::kListJson, 0},
                 {ExtractionMode::kExtract, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        test::TempDir dir;
        test::CurrentDirGuard keepFolder;
        NotingHooks hooks;
        hooks.watchedFile = dir.path() / "out" / "hello.txt";
        HooksInstalled installed(hooks);
        ExtractionRequest request;
        request.mode = c.mode;
        request.archive = SampleArchive();
        request.decoderVerbosity = 0;
        std::u16string rootPath;
        Utf8ToUtf16((dir.path() / "out").string(), rootPath);
        ASSERT_EQ(OpenRootFolder(rootPath.c_str(), RootTrust::kOwned, request.root),
                  OpenRootResult::kOpened);
        test::DebugCapture quiet;
        const ExtractionResult result =
            ServeExtraction(request, [](std::string_view) { return true; });
        CloseDirectory(request.root);
        EXPECT_EQ(result.outcome, ExtractionOutcome::kComplete);
        EXPECT_EQ(hooks.writesAnnounced, c.announced);
        EXPECT_FALSE(hooks.fileThereBefore);
        EXPECT_EQ(fs::exists(hooks.watchedFile), c.announced == 1);
    }
}

// A child the hooks refuse fails the run as an unstartable one does, with the hooks' reason,
// and nothing is decoded.
TEST(ExtractionHooksTest, RefusedChildFailsTheRunWithTheReason) {
    NotingHooks hooks;
    hooks.refusal = "cannot start the sandboxed process: not now";
    HooksInstalled installed(hooks);
    ExtractionRequest request;
    request.archive = SampleArchive();
    const ExtractionResult result = RunExtraction(request);
    EXPECT_EQ(result.outcome, ExtractionOutcome::kSandboxFailed);
    EXPECT_EQ(result.failure, Failure::kSandboxUnavailable);
    EXPECT_EQ(result.failureWhere, u"cannot start the sandboxed process: not now");
    EXPECT_TRUE(result.summary.empty());
}

// The hooks set the decoder's budget where none was set; one set by the caller stands.
TEST(ExtractionHooksTest, DecoderBudgetComesFromTheHooksUnlessSet) {
    const ExtractionHooks normalHooks;
    uint64_t normal = 0;
    {
        HooksInstalled installed(normalHooks);
        SetDecoderMemoryBudget(0);
        normal = DecoderMemoryBudget();
    }
    NotingHooks hooks;
    HooksInstalled installed(hooks);
    const struct {
        uint64_t set;
        uint64_t expected;
    } cases[] = {{0, normal / 4}, {uint64_t{48} << 20, uint64_t{48} << 20}};
    for (const auto& c : cases) {
        SetDecoderMemoryBudget(c.set);
        EXPECT_EQ(DecoderMemoryBudget(), c.expected) << c.set;
    }
    SetDecoderMemoryBudget(0);
}

}  // namespace
}  // namespace winqor
