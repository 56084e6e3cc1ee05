#include "fuzz/harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/record_sink.h"
#include "platform/debug.h"
#include "protection/password.h"
#include "support/file_fixtures.h"

namespace winqor::fuzz {
namespace fs = std::filesystem;

void Fail(std::string_view what) {
    std::fprintf(stderr, "fuzz finding: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

void QuietOnce() {
    static const bool quiet = [] {
        SetDebugSink({});
        SetDecoderVerbosity(0);
        return true;
    }();
    (void)quiet;
}

std::array<uint8_t, 16> FixedPasswordDigest() {
    std::array<uint8_t, 16> digest{};
    DerivePasswordDigest(digest.data(), u"fuzz");
    Require(digest[0] != 0, "the fixed password can never be accepted");
    return digest;
}

void UseFixedPassword(ArchiveExtractor& extractor) {
    extractor.SetPasswordDigest(FixedPasswordDigest().data());
}

namespace {

fs::path MakeUniqueFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("winqor-fuzz-" + std::to_string(random()));
        if (fs::create_directory(candidate)) return candidate;
    }
    Fail("cannot make the sandbox folder");
}

// A component of a folder of the walk, as the sink receives it: never empty, ".", "..", and
// never holding a separator, a colon or a NUL, whatever the engine decided.
bool IsContainedComponent(std::u16string_view part) {
    if (part.empty() || part == u"." || part == u"..") return false;
    return part.find_first_of(std::u16string_view(u"/\\:\0", 4)) == std::u16string_view::npos;
}

constexpr char kBait[] = "bait";
constexpr size_t kTraps = 6;

// Checks every name and keeps the first file paths below the root, where traps will wait.
class NameCheckingSink : public RecordSink {
  public:
    bool Directory(const char16_t*, const char16_t* const* components, uint32_t count) override {
        folder_.clear();
        for (uint32_t i = 0; i < count; ++i) {
            Require(IsContainedComponent(components[i]), "a folder name that leaves the root");
            folder_ /= Utf16ToUtf8Lossy(components[i]);
        }
        return true;
    }
    bool File(const char16_t* name, uint32_t, std::optional<uint32_t>, const uint8_t*,
              uint32_t) override {
        Require(IsContainedComponent(name), "a file name that leaves its folder");
        if (files_.size() < kTraps) files_.push_back(folder_ / Utf16ToUtf8Lossy(name));
        return true;
    }
    const std::vector<fs::path>& files() const { return files_; }

  private:
    fs::path folder_;
    std::vector<fs::path> files_;
};

// What someone else may have left at a file's name: each must be replaced, never written
// through. Failures to set one (a name met twice) only leave that trap out.
void SetTraps(const Sandbox& sandbox, const std::vector<fs::path>& files) {
    std::error_code ignored;
    for (size_t i = 0; i < files.size(); ++i) {
        const fs::path at = sandbox.root() / files[i];
        fs::create_directories(at.parent_path(), ignored);
        if (i % 3 == 0) fs::create_symlink(sandbox.bait(), at, ignored);
        if (i % 3 == 1) test::MakePipe(at);
        if (i % 3 == 2) fs::create_hard_link(sandbox.bait(), at, ignored);
    }
}

}  // namespace

Sandbox& Sandbox::Get() {
    static Sandbox sandbox;
    return sandbox;
}

Sandbox::Sandbox()
    : parent_(MakeUniqueFolder()),
      cwd_(parent_ / "cwd"),
      root_(parent_ / "root"),
      bait_(parent_ / "bait"),
      baitFolder_(parent_ / "baitdir") {
    fs::create_directory(cwd_);
    fs::create_directory(baitFolder_);
    std::ofstream(bait_) << kBait;
}

void Sandbox::Enter() {
    fs::current_path(cwd_);
}

void Sandbox::CheckAndClear() {
    fs::current_path(cwd_);
    for (const auto& entry : fs::directory_iterator(parent_)) {
        const bool expected = entry.path() == root_ || entry.path() == cwd_ ||
                              entry.path() == bait_ || entry.path() == baitFolder_;
        Require(expected, "something was written beside the extraction root");
    }
    Require(fs::is_empty(cwd_), "something was written in the starting directory");
    Require(fs::is_empty(baitFolder_), "something was written through a trap");
    std::ifstream bait(bait_);
    const std::string content((std::istreambuf_iterator<char>(bait)), {});
    Require(content == kBait, "the bait was written through a trap");
    std::error_code error;
    fs::remove_all(root_, error);
    Require(!error, "cannot clear the extraction root");
}

void WalkDecoded(ArchiveExtractor& extractor) {
    Sandbox& sandbox = Sandbox::Get();
    sandbox.Enter();
    NameCheckingSink sink;
    const int checked = extractor.CheckRecords(&sink);
    std::u16string root;
    if (checked != 0 && Utf8ToUtf16(sandbox.root().string(), root)) {
        SetTraps(sandbox, sink.files());
        if (extractor.EnterRoot(root.c_str()) != 0) extractor.OutputArchive();
    }
    sandbox.CheckAndClear();
}

void ExtractImage(std::span<const uint8_t> image) {
    QuietOnce();
    ArchiveExtractor extractor;
    UseFixedPassword(extractor);
    if (extractor.LoadFromImage(image.data(), image.size()) == 0) return;
    if (extractor.DecodePayload() == 0) return;
    WalkDecoded(extractor);
}

}  // namespace winqor::fuzz
