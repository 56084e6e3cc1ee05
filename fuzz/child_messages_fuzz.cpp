// The parent's decoding of what the sandboxed child sends. The input is the bytes a taken-over
// child writes on its channel: the parent cuts them into frames (FrameReader) and takes each
// message as RunExtraction takes it (engine/child_messages.h), for an extraction request; after a
// whole stream with an outcome, it enters the folder the child named last. Whatever the bytes, the
// parent must not fall over, must leave nothing outside the extraction root and must stay inside
// it, and what it accepted must be a failure it knows. The first byte sets how many bytes each read
// of the channel gets (1 to 256), so that frames arrive cut anywhere.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/message_frames.h"
#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/child_messages.h"
#include "fuzz/harness.h"

namespace {

namespace fs = std::filesystem;
using winqor::fuzz::Require;

bool IsBelow(const fs::path& path, const fs::path& root) {
    const auto relative = path.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace winqor;
    fuzz::QuietOnce();
    if (size == 0) return 0;
    fuzz::Sandbox& sandbox = fuzz::Sandbox::Get();
    sandbox.Enter();
    // Folders the child may name, and a link that it must not be let through.
    fs::create_directories(sandbox.root() / "a" / "b");
    std::error_code ignored;
    fs::create_directory_symlink(sandbox.baitFolder(), sandbox.root() / "link", ignored);
    {
        ArchiveExtractor extractor;
        std::u16string root;
        Require(Utf8ToUtf16(sandbox.root().string(), root) && extractor.EnterRoot(root.c_str()),
                "cannot enter the extraction root");
        const ExtractionRequest request = extractor.Request(ExtractionMode::kExtract);
        ChildMessages taken;
        const auto receive = [&](std::string_view message) {
            return TakeChildMessage(request, message, taken);
        };
        FrameReader reader(MaxChildMessageBytes());
        std::string why;
        const size_t read = size_t{data[0]} + 1;
        bool refused = false;
        for (size_t at = 1; at < size && !refused; at += read) {
            refused = !reader.Take(reinterpret_cast<const char*>(data) + at,
                                   std::min(read, size - at), receive, why);
        }
        Require(!refused || !why.empty(), "a refusal without a reason");
        if (!refused && reader.Whole() && taken.reported) {
            Require(std::strcmp(DescribeFailure(taken.result.failure), "unknown failure") != 0,
                    "an outcome with a failure this program does not know was taken");
            EnterChildsLastFolder(request.root, taken);
            const fs::path current = fs::current_path();
            Require(current == sandbox.root() || IsBelow(current, sandbox.root()),
                    "the child's word took the parent out of the root");
        }
    }
    sandbox.CheckAndClear();
    return 0;
}
