// Packs a folder into an archive for the end-to-end tests, with the writer library.
//   pack_tree DIR OUT.aze [--run-setup] [--password PASSWORD]
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "base/text.h"
#include "protection/password.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Sorted(const fs::path& dir) {
    std::vector<fs::path> entries(fs::directory_iterator(dir), fs::directory_iterator{});
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::u16string Wide(const std::string& text) {
    std::u16string wide;
    winqor::Utf8ToUtf16(text, wide);
    return wide;
}

// One group per folder, parents before children; name is "" for the root, "\a\b" below it.
void AddFolder(winqor::RecordStreamBuilder& builder, const fs::path& dir, const std::string& name) {
    builder.AddDirectory(Wide(name));
    for (const auto& entry : Sorted(dir)) {
        if (!fs::is_regular_file(entry)) continue;
        std::ifstream in(entry, std::ios::binary);
        const std::vector<uint8_t> content(std::istreambuf_iterator<char>(in), {});
        builder.AddFile(Wide(entry.filename().string()), 0x20, content);
    }
    for (const auto& entry : Sorted(dir)) {
        if (fs::is_directory(entry))
            AddFolder(builder, entry, name + "\\" + entry.filename().string());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    winqor::ArchiveOptions options;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--run-setup") options.runSetup = true;
        if (option == "--password" && i + 1 < argc) {
            std::array<uint8_t, 16> digest;
            winqor::DerivePasswordDigest(digest.data(), Wide(argv[++i]).c_str());
            options.passwordDigest = digest;
        }
    }
    winqor::RecordStreamBuilder builder;
    AddFolder(builder, argv[1], "");
    std::vector<uint8_t> archive;
    std::string reason;
    if (!winqor::WriteArchive(builder.bytes(), options, archive, reason)) {
        std::cerr << "pack_tree: " << reason << '\n';
        return 1;
    }
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(archive.data()),
               static_cast<std::streamsize>(archive.size()));
    return 0;
}
