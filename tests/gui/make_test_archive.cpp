// The GUI tests' archives and their check:
//   make_test_archive OUT.aze [PASSWORD]   writes the sample tree as an archive
//   make_test_archive --check DIR          0 when DIR holds exactly the sample tree
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/record_stream.h"
#include "base/text.h"
#include "protection/password.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace fs = std::filesystem;

namespace {

struct SampleFile {
    const char* folder;  // record name of its folder
    const char* path;    // path below the root
    std::string content;
};

const std::vector<SampleFile>& Sample() {
    static const std::vector<SampleFile> files = {
        {"", "hello.txt", "hello from the window\n"},
        {"", "Setup.exe", std::string(5000, 'x')},
        {"\\docs", "docs/notes.txt", "notes\nmore notes\n"},
        {"\\docs\\deep", "docs/deep/empty.txt", ""},
    };
    return files;
}

std::u16string Utf16(const std::string& text) {
    std::u16string out;
    winqor::Utf8ToUtf16(text, out);
    return out;
}

int Write(const char* out, const char* password) {
    winqor::RecordStreamBuilder builder;
    std::string group = "-";
    for (const SampleFile& file : Sample()) {
        if (group != file.folder) builder.AddDirectory(Utf16(group = file.folder));
        const std::string name = fs::path(file.path).filename().string();
        builder.AddFile(
            Utf16(name), winqor::kAttributeArchive,
            {reinterpret_cast<const uint8_t*>(file.content.data()), file.content.size()});
    }
    winqor::ArchiveOptions options;
    if (password != nullptr) {
        std::array<uint8_t, 16> digest;
        winqor::DerivePasswordDigest(digest.data(), Utf16(password).c_str());
        options.passwordDigest = digest;
        options.keySeed = {1, 2, 3, 4};
    }
    std::vector<uint8_t> archive;
    std::string error;
    if (!winqor::WriteArchive(builder.bytes(), options, archive, error)) {
        std::fprintf(stderr, "make_test_archive: %s\n", error.c_str());
        return 1;
    }
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()), static_cast<long>(archive.size()));
    return 0;
}

int Check(const fs::path& root) {
    size_t found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        found += entry.is_regular_file();
    int problems = 0;
    for (const SampleFile& file : Sample()) {
        std::ifstream in(root / file.path, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), {});
        if (!in || content != file.content) {
            std::fprintf(stderr, "make_test_archive: %s is missing or differs\n", file.path);
            ++problems;
        }
    }
    if (found != Sample().size()) {
        std::fprintf(stderr, "make_test_archive: %zu files instead of %zu\n", found,
                     Sample().size());
        ++problems;
    }
    return problems == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return Check(argv[2]);
    if (argc == 2 || argc == 3) return Write(argv[1], argc == 3 ? argv[2] : nullptr);
    std::fprintf(stderr, "usage: make_test_archive OUT.aze [PASSWORD] | --check DIR\n");
    return 2;
}
