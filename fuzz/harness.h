// Shared pieces of the fuzz targets. Each target defines LLVMFuzzerTestOneInput; built with
// clang and -fsanitize=fuzzer it is a libFuzzer program, built with the normal compiler and
// replay_main.cpp it replays stored inputs under CTest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace winqor {

class ArchiveExtractor;

namespace fuzz {

// Stops the run with a message: a finding. libFuzzer keeps the input that caused it.
[[noreturn]] void Fail(std::string_view what);
inline void Require(bool condition, std::string_view what) {
    if (!condition) Fail(what);
}

// Silences the debug channel and the decoder once per process.
void QuietOnce();

// The password digest the archive targets read encrypted archives with ("fuzz"); the
// seed corpora's encrypted archives use it.
std::array<uint8_t, 16> FixedPasswordDigest();
// Gives it to extractor as the accepted password's digest.
void UseFixedPassword(ArchiveExtractor& extractor);

// A folder made once per process below the system's temporary folder (TMPDIR), holding
// "cwd" (the current directory while an input runs, so that a stray relative write lands
// inside), "root" (the extraction root), and the bait that traps in the root lead to: a file
// "bait" and an empty folder "baitdir". After each input Check() fails the run when anything
// else exists in it, "cwd" is not empty or the bait changed; then "root" is emptied.
class Sandbox {
  public:
    static Sandbox& Get();
    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& bait() const { return bait_; }
    const std::filesystem::path& baitFolder() const { return baitFolder_; }
    // Enters "cwd"; call before an input's first step.
    void Enter();
    // Returns to "cwd", fails on anything written outside "root", and removes "root".
    void CheckAndClear();

  private:
    Sandbox();
    std::filesystem::path parent_, cwd_, root_, bait_, baitFolder_;
};

// What the reading programs do with a decoded stream: walks it through a sink that checks
// every name independently of the engine, then, when that walk passes, sets traps at the
// first file names it will write (a link to the bait, a pipe, a hard link of the bait) and
// writes it below the sandbox's root. The sandbox is checked and cleared afterwards.
void WalkDecoded(ArchiveExtractor& extractor);

// Loads an archive image, decodes it and walks it.
void ExtractImage(std::span<const uint8_t> image);

}  // namespace fuzz
}  // namespace winqor
