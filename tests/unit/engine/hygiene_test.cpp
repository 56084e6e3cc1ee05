// What an extraction leaves behind in the process and on disk when something outside changes
// or fails: no open descriptor, and no write through a link that appears while it runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "engine/archive_extractor.h"
#include "format/archive_header.h"
#include "protection/md5.h"
#include "support/test_support.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace winqor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using test::Wide;

size_t OpenDescriptors() {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

Bytes ArchiveOf(const Bytes& records) {
    Bytes archive;
    std::string error;
    EXPECT_TRUE(WriteArchive(records, {}, archive, error)) << error;
    return archive;
}

Bytes SmallTree() {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"a.txt", 0x20, Bytes{'a'});
    builder.AddDirectory(u"\\docs");
    builder.AddFile(u"b.txt", 0x21, Bytes{'b'});
    return builder.TakeBytes();
}

// A header whose digest matches a payload that is not bzip2 data.
Bytes UndecodablePayload() {
    const Bytes payload(64, 0x42);
    HeaderFields fields;
    fields.packedSize = static_cast<uint32_t>(payload.size());
    fields.unpackedSize = 100;
    Md5Digest(fields.payloadDigest, payload.data(), static_cast<int32_t>(payload.size()));
    Bytes archive(kHeaderBytes);
    BuildHeader(fields, archive.data());
    archive.insert(archive.end(), payload.begin(), payload.end());
    return archive;
}

struct DescriptorCase {
    const char* name;
    std::function<Bytes()> archive;  // none: no archive file at all
    Failure failure;
    std::function<void(const fs::path& root)> prepare;  // the destination before the run
};

TEST(DescriptorHygieneTest, AnExtractionLeavesNoDescriptorOpenWhateverItsOutcome) {
    SetDecoderVerbosity(0);
    auto cut = [](size_t bytes) {
        return [bytes] {
            Bytes archive = ArchiveOf(SmallTree());
            archive.resize(bytes);
            return archive;
        };
    };
    auto withNames = [](std::u16string_view folder, std::u16string_view file) {
        return [=] {
            RecordStreamBuilder builder;
            builder.AddDirectory(folder);
            builder.AddFile(file, 0x20, Bytes{'x'});
            return ArchiveOf(builder.TakeBytes());
        };
    };
    const DescriptorCase cases[] = {
        {"success", [] { return ArchiveOf(SmallTree()); }, Failure::kNone, {}},
        {"missing archive", {}, Failure::kOpenFailed, {}},
        {"shorter than a header", cut(100), Failure::kShortHeader, {}},
        {"not an archive", [] { return Bytes(300, 0); }, Failure::kHeaderRejected, {}},
        {"ends before its payload", cut(kHeaderBytes + 5), Failure::kShortPayload, {}},
        {"damaged payload",
         [] {
             Bytes archive = ArchiveOf(SmallTree());
             archive.back() ^= 0xFF;
             return archive;
         },
         Failure::kDigestMismatch,
         {}},
        {"undecodable payload", UndecodablePayload, Failure::kCorruptData, {}},
        {"name leaving the root", withNames(u"\\..", u"x"), Failure::kUnsafeName, {}},
        {"destination is a file", [] { return ArchiveOf(SmallTree()); }, Failure::kRootFailed,
         [](const fs::path& root) { test::WriteFileBytes(root, Bytes{'f'}); }},
        {"folder in place of a file", [] { return ArchiveOf(SmallTree()); },
         Failure::kFolderInTheWay,
         [](const fs::path& root) { fs::create_directories(root / "a.txt"); }},
        {"link in place of a folder", [] { return ArchiveOf(SmallTree()); }, Failure::kLinkRefused,
         [](const fs::path& root) {
             fs::create_directories(root);
             fs::create_directory_symlink(root.parent_path(), root / "docs");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::CurrentDirGuard cwd;
        test::TempDir dir;
        const fs::path archive = dir.path() / "pack.aze";
        const fs::path root = dir.path() / "out";
        if (c.archive) test::WriteFileBytes(archive, c.archive());
        if (c.prepare) c.prepare(root);
        const size_t before = OpenDescriptors();
        {
            ArchiveExtractor extractor;
            if (extractor.LoadFromFile(Wide(archive).c_str()) != 0) {
                extractor.CloseArchiveFile();
                extractor.ExtractToFolder(Wide(root).c_str());
            }
            EXPECT_EQ(extractor.failure(), c.failure) << DescribeFailure(extractor.failure());
            extractor.CloseArchiveFile();
            EXPECT_EQ(OpenDescriptors(), before) << "with the extractor still alive";
        }
        EXPECT_EQ(OpenDescriptors(), before);
    }
}

// Another process replaces a folder of the walk with a link to a folder outside the root,
// and puts it back, over and over while the walk runs. Whichever record it catches, nothing
// is ever written in the link's target: the walk refuses the link, or goes on in the real
// folder it already holds open.
TEST(LinkSwapTest, AFolderSwappedForALinkDuringTheWalkIsNeverFollowed) {
    SetDecoderVerbosity(0);
    test::CurrentDirGuard cwd;
    test::TempDir dir;
    const fs::path root = dir.path() / "root";
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(outside);
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    for (int i = 0; i < 40; ++i) {
        builder.AddDirectory(i % 2 == 0 ? u"\\a" : u"\\a\\b");
        builder.AddFile(u"f" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)), 0x20,
                        Bytes{'x'});
    }
    const Bytes archive = ArchiveOf(builder.TakeBytes());
    int refused = 0;
    for (int run = 0; run < 60; ++run) {
        fs::remove_all(root);
        fs::create_directories(root / "a");
        std::atomic<bool> stop = false;
        // The paths are made before the thread starts: it must not allocate, since the walk's
        // sandboxed child is forked while it runs, and a lock it held would stay held there.
        const fs::path folder = root / "a", real = root / "a.real";
        std::thread swapper([&] {
            std::error_code ignored;
            while (!stop) {
                fs::rename(folder, real, ignored);
                fs::create_directory_symlink(outside, folder, ignored);
                std::this_thread::yield();
                fs::remove(folder, ignored);
                fs::rename(real, folder, ignored);
            }
        });
        ArchiveExtractor extractor;
        ASSERT_EQ(extractor.LoadFromImage(archive.data(), archive.size()), 1);
        extractor.ExtractToFolder(Wide(root).c_str());
        stop = true;
        swapper.join();
        if (extractor.failure() == Failure::kLinkRefused) ++refused;
        ASSERT_TRUE(fs::is_empty(outside)) << "run " << run << " wrote through the link";
    }
    std::printf("the walk met the link and refused it in %d of 60 runs\n", refused);
}

}  // namespace
}  // namespace winqor
