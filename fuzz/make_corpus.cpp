// Writes the fuzz targets' seed corpora with the project's own writer:
//   make_fuzz_corpus OUT_DIR     (OUT_DIR/<target>/<seed>; fuzz/corpus in the repository)
// The seeds are small on purpose: libFuzzer grows them, and the repository keeps them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <bzlib.h>

#include "base/little_endian.h"
#include "base/message_frames.h"
#include "image/ico.h"
#include "image/pe_resources.h"
#include "image/resource_table.h"
#include "image/version_info.h"
#include "platform/terminal.h"
#include "protection/password.h"
#include "support/pe_image.h"
#include "writer/archive_writer.h"
#include "writer/record_builder.h"

namespace {

using namespace winqor;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void Write(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(std::string_view text) {
    return {text.begin(), text.end()};
}

// A root with two files, a folder with a read-only file and an empty one, a nested folder.
Bytes SmallTree() {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"README.txt", 0x21, Text("read me first\n"));
    builder.AddFile(u"Setup.exe", 0x20, Text("#!/bin/sh\necho setup\n"));
    builder.AddDirectory(u"\\docs");
    builder.AddFile(u"empty", 0x20, {});
    builder.AddFile(u"notes.txt", 0x20, Text("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n"));
    builder.AddDirectory(u"\\docs\\deep");
    builder.AddFile(u"\u00e9t\u00e9.txt", 0x20, Text("summer"));
    return builder.TakeBytes();
}

Bytes RootOnly() {
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"a", 0x20, Text("a"));
    return builder.TakeBytes();
}

// Names the walk must refuse, each in a stream of its own.
std::vector<Bytes> RefusedNames() {
    std::vector<Bytes> streams;
    for (const std::u16string_view folder : {u"\\..", u"\\a\\..\\..\\b", u"\\C:", u"\\a\\\\b"}) {
        RecordStreamBuilder builder;
        builder.AddDirectory(folder);
        builder.AddFile(u"x", 0x20, Text("x"));
        streams.push_back(builder.TakeBytes());
    }
    RecordStreamBuilder builder;
    builder.AddDirectory(u"");
    builder.AddFile(u"..", 0x20, Text("x"));
    streams.push_back(builder.TakeBytes());
    return streams;
}

Bytes Archive(const Bytes& records, bool encrypted) {
    ArchiveOptions options;
    if (encrypted) {
        std::array<uint8_t, 16> digest{};
        DerivePasswordDigest(digest.data(), u"fuzz");
        options.passwordDigest = digest;
        options.keySeed = {0x12, 0x34, 0x56, 0x78};
    }
    Bytes archive;
    std::string error;
    if (!WriteArchive(records, options, archive, error)) {
        std::fprintf(stderr, "make_fuzz_corpus: %s\n", error.c_str());
        std::exit(1);
    }
    return archive;
}

// The unpacked size and the compressed payload, as archive_payload takes them.
Bytes SizeAndPayload(const Bytes& records) {
    Bytes compressed;
    CompressBzip2(records, compressed);
    Bytes out(4 + compressed.size());
    WriteLe32(out.data(), static_cast<uint32_t>(records.size()));
    std::copy(compressed.begin(), compressed.end(), out.begin() + 4);
    return out;
}

Bytes SeedAndPassword(std::u16string_view password) {
    Bytes out = {0xA1, 0x52, 0xF3, 0x04};
    for (const char16_t unit : password) {
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return out;
}

Bytes Program(std::span<const NewResource> resources) {
    Bytes program = Text(
        "\x7f"
        "ELF stand-in program image");
    Bytes out;
    std::string error;
    AppendResources(program, resources, out, error);
    return out;
}

void WriteResourceSeeds(const fs::path& dir) {
    const Bytes archive = Archive(RootOnly(), false);
    const NewResource placeholder{kSetupArchiveType, kSetupArchiveId, kLanguageEnglishUs,
                                  kSetupArchivePlaceholder};
    const NewResource carried{kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, archive};
    const NewResource other{"ICON", 128, 1031, std::span(kSetupArchivePlaceholder, 4)};
    Write(dir / "no-table", Text("\x7f"
                                 "ELF program without resources"));
    const NewResource one[] = {placeholder};
    Write(dir / "placeholder", Program(one));
    const NewResource three[] = {placeholder, carried, other};
    Write(dir / "three-entries", Program(three));
}

// Windows programs of winqor.exe's shape: the placeholder among other resources, then the
// same with an archive added as aze sfx --windows adds it, and that one's archive replaced.
void WritePeSeeds(const fs::path& dir) {
    const Bytes placeholder(std::begin(kSetupArchivePlaceholder),
                            std::end(kSetupArchivePlaceholder));
    const std::vector<test::PeTestResource> resources = {
        {{u"SETUP_ARCHIVE"}, {{}, kSetupArchiveId}, kLanguageEnglishUs, placeholder},
        {{{}, 24}, {{}, 1}, kLanguageEnglishUs, Text("<assembly/>")},
        {{{}, 14}, {{}, 128}, kLanguageEnglishUs, Text("icon group")},
        {{u"ZED"}, {u"ITEM"}, 0, Text("named")}};
    const Bytes stub = test::BuildPeImage(resources).bytes;
    Write(dir / "stub", stub);
    const Bytes archive = Archive(RootOnly(), false);
    const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, kLanguageNeutral,
                                 archive};
    Bytes program, again;
    std::string reason;
    if (!AddPeResources(stub, {&addition, 1}, program, reason) ||
        !AddPeResources(program, {&addition, 1}, again, reason)) {
        std::fprintf(stderr, "make_fuzz_corpus: %s\n", reason.c_str());
        std::exit(1);
    }
    Write(dir / "sfx", program);
    Write(dir / "sfx-again", again);
}

void AppendBe32(Bytes& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(value >> shift));
}

// A PNG chunk with its CRC-32 (reflected, as zlib computes it).
void AppendPngChunk(Bytes& png, const char* type, const Bytes& body) {
    AppendBe32(png, static_cast<uint32_t>(body.size()));
    Bytes checked(type, type + 4);
    checked.insert(checked.end(), body.begin(), body.end());
    uint32_t crc = 0xFFFFFFFF;
    for (const uint8_t byte : checked) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    png.insert(png.end(), checked.begin(), checked.end());
    AppendBe32(png, ~crc);
}

// A 16x16 PNG stream (its IDAT is not decoded by the reader).
Bytes SmallPng() {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    AppendBe32(header, 16);
    AppendBe32(header, 16);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    AppendPngChunk(png, "IHDR", header);
    AppendPngChunk(png, "IDAT", {0x78, 0x9C, 0x03, 0x00});
    AppendPngChunk(png, "IEND", {});
    return png;
}

// A 16x16 1-bit bitmap: header, two palette entries, colour and mask rows of 4 bytes each.
Bytes SmallBitmap() {
    Bytes bitmap(40 + 8 + 2 * 4 * 16, 0);
    WriteLe32(bitmap.data(), 40);
    WriteLe32(bitmap.data() + 4, 16);
    WriteLe32(bitmap.data() + 8, 32);
    WriteLe16(bitmap.data() + 12, 1);
    WriteLe16(bitmap.data() + 14, 1);
    return bitmap;
}

// An icon file of the bitmap and the PNG, and a version resource with every key.
void WriteIdentitySeeds(const fs::path& dir) {
    const Bytes images[] = {SmallBitmap(), SmallPng()};
    Bytes ico = {0, 0, 1, 0, 2, 0};
    uint32_t offset = 6 + 2 * 16;
    for (const Bytes& image : images) {
        ico.insert(ico.end(), {16, 16, 0, 0, 1, 0, 32, 0});
        AppendLe32(ico, static_cast<uint32_t>(image.size()));
        AppendLe32(ico, offset);
        offset += static_cast<uint32_t>(image.size());
    }
    for (const Bytes& image : images) ico.insert(ico.end(), image.begin(), image.end());
    Write(dir / "icon", ico);
    VersionInfo info;
    std::string reason;
    for (const char* setting :
         {"ProductName=Product", "ProductVersion=2.1 beta", "FileVersion=2.1.0.7",
          "CompanyName=Company", "FileDescription=Setup", "LegalCopyright=(c) Company",
          "OriginalFilename=setup.exe", "InternalName=setup", "Comments=seed"}) {
        SetVersionInfo(setting, info, reason);
    }
    Write(dir / "version", BuildVersionResource(info));
}

// ---- the channel from the sandboxed child, as child_messages takes it ----------------------

std::string Units(std::u16string_view text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// An outcome: the watched file's identity, the result, the failure, whether the watched file
// was written and the failure's place in units; then the place and the last folder.
std::string Outcome(int32_t result, int32_t failure, std::u16string_view where,
                    std::u16string_view lastFolder) {
    std::string bytes(1, 'R');
    bytes.append(16, '\0');
    for (const uint32_t field : {static_cast<uint32_t>(result), static_cast<uint32_t>(failure), 0u,
                                 static_cast<uint32_t>(where.size())}) {
        uint8_t le[4];
        WriteLe32(le, field);
        bytes.append(reinterpret_cast<const char*>(le), 4);
    }
    return bytes + Units(where) + Units(lastFolder);
}

// The first byte: how many bytes each read of the channel gets, less one.
Bytes Channel(uint8_t read, const std::vector<std::string>& messages) {
    std::string bytes(1, static_cast<char>(read));
    for (const auto& message : messages) bytes += FrameMessage(message);
    return {bytes.begin(), bytes.end()};
}

void WriteChildMessageSeeds(const fs::path& dir) {
    using namespace std::string_literals;
    const std::string debug = "D"s + Units(u"OutputFolder:/x\n");
    Write(dir / "whole", Channel(6, {debug, "Ohello\n", Outcome(1, 0, u"", u"a\0b\0"s)}));
    Write(dir / "failure", Channel(255, {Outcome(0, 12, u"\\..\\escape", u"")}));
    Write(dir / "through-a-link", Channel(0, {Outcome(1, 0, u"", u"link\0"s)}));
    Write(dir / "two-outcomes", Channel(31, {Outcome(1, 0, u"", u""), Outcome(1, 0, u"", u"")}));
    Write(dir / "unknown-failure", Channel(9, {Outcome(0, 999, u"", u"")}));
}

// ---- the self-extracting program's switches, its password file, the desktop's URIs ---------

Bytes Joined(uint8_t first, const std::vector<std::string>& parts) {
    Bytes bytes = {first};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) bytes.push_back(0);
        bytes.insert(bytes.end(), parts[i].begin(), parts[i].end());
    }
    return bytes;
}

void WriteSwitchSeeds(const fs::path& dir) {
    Write(dir / "install", Joined(0, {"--target", "out", "--quiet", "--", "/S"}));
    Write(dir / "modes", Joined(0, {"--list", "--check"}));
    Write(dir / "slash-help", Joined(1, {"/?"}));
    Write(dir / "values", Joined(0, {"--password-file=pw", "--log", "run.log", "--temp", "a"}));
    Write(dir / "missing-value", Joined(0, {"--extract-only", "--target"}));
}

void WritePasswordFileSeeds(const fs::path& dir) {
    Write(dir / "line", Text("fuzz\n"));
    Write(dir / "crlf", Text("fuzz\r\nsecond line\n"));
    Write(dir / "empty", {});
    Write(dir / "too-long", Bytes(kMaxPasswordLineBytes + 1, 'a'));
    Write(dir / "utf8", Text("d\xc3\xa9j\xc3\xa0 \xe4\xb8\xad"));
}

void WriteUriSeeds(const fs::path& dir) {
    Write(dir / "uri", Joined(0, {"file:///tmp/a%20b.aze"}));
    Write(dir / "other-host", Joined(0, {"file://otherhost/x.aze"}));
    Write(dir / "localhost", Joined(1, {"file://localhost/%C3%A9t%C3%A9.aze"}));
    Write(dir / "relative", Joined(1, {"archives/release.aze"}));
    Write(dir / "absolute", Joined(1, {"/srv/release.aze"}));
}

// ---- bzip2 streams of several blocks, as parallel_decode takes them -------------------------

// Words in a pseudo-random order: compresses like text, no two blocks alike.
Bytes Mixed(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"archive ", "block ", "stream\n", "zzzzzzzzzz", "0x31 ",
                                         "decode ",  "\t",     "magic ",   "payload ",   "CRC; "};
    Bytes bytes;
    while (bytes.size() < size) {
        seed = seed * 1664525 + 1013904223;
        const std::string word = kWords[(seed >> 16) % 10];
        bytes.insert(bytes.end(), word.begin(), word.end());
    }
    bytes.resize(size);
    return bytes;
}

// The unpacked size, then the library's one-call compression with 100 kB blocks.
Bytes SizeAndSmallBlocks(const Bytes& plain) {
    Bytes packed(plain.size() + plain.size() / 100 + 600);
    auto size = static_cast<unsigned>(packed.size());
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(packed.data()), &size,
                             reinterpret_cast<char*>(const_cast<uint8_t*>(plain.data())),
                             static_cast<unsigned>(plain.size()), 1, 0, 0);
    packed.resize(size);
    Bytes out(4);
    WriteLe32(out.data(), static_cast<uint32_t>(plain.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus OUT_DIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    const Bytes tree = SmallTree();
    Write(out / "archive/plain", Archive(tree, false));
    Write(out / "archive/encrypted", Archive(tree, true));
    Write(out / "archive/root-only", Archive(RootOnly(), false));
    Write(out / "archive_payload/tree", SizeAndPayload(tree));
    Write(out / "archive_payload/root-only", SizeAndPayload(RootOnly()));
    const auto refused = RefusedNames();
    for (const char* target : {"walk", "archive_stream"}) {
        Write(out / target / "tree", tree);
        Write(out / target / "root-only", RootOnly());
        for (size_t i = 0; i < refused.size(); ++i) {
            Write(out / target / ("refused-" + std::to_string(i)), refused[i]);
        }
    }
    Write(out / "password/plain", SeedAndPassword(u"Secret1"));
    Write(out / "password/empty", SeedAndPassword(u""));
    Write(out / "password/long", SeedAndPassword(u"a password longer than fifteen"));
    Write(out / "password/high-bytes", SeedAndPassword(u"\u0100\u4e2d\u6587"));
    WriteResourceSeeds(out / "resource_table");
    WritePeSeeds(out / "pe_resources");
    WriteIdentitySeeds(out / "identity");
    WriteChildMessageSeeds(out / "child_messages");
    WriteSwitchSeeds(out / "sfx_switches");
    WritePasswordFileSeeds(out / "password_file");
    WriteUriSeeds(out / "desktop_uri");
    Write(out / "parallel_decode/two-blocks", SizeAndSmallBlocks(Mixed(150'000, 1)));
    Write(out / "parallel_decode/three-blocks", SizeAndSmallBlocks(Mixed(260'000, 2)));
    return 0;
}
