// aze sfx: a copy of the winqor program that carries an archive as its neutral SETUP_ARCHIVE
// resource, so that it unpacks the archive beside itself when started. Also the way back:
// the archive inside such a program, for list, test and extract.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "format/archive_header.h"
#include "platform/folder.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "tools/aze/commands.h"

namespace winqor::aze {
namespace {

namespace fs = std::filesystem;

constexpr char kStubName[] = "winqor";
// An archive is its header and a payload of at most kMaxPayloadSize bytes: nothing past that
// is read, whatever size a file or a resource entry claims.
constexpr uint64_t kMaxArchiveBytes = kHeaderBytes + uint64_t{kMaxPayloadSize};
// Far more than any winqor program; a larger file is not one, and is not read into memory.
constexpr uint64_t kMaxStubBytes = uint64_t{1} << 30;

// The whole file when it holds at most limit bytes.
ReadOutcome ReadBounded(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes) {
    std::string ignored;
    return ReadWholeFile(path, limit, bytes, ignored);
}

// The winqor program beside this aze, unless --stub names another.
std::string StubPath(const SfxOptions& options) {
    if (!options.stub.empty()) return options.stub;
    char16_t self[kMaxPath];
    if (GetModuleFileName(self, kMaxPath) == 0) return kStubName;
    return (fs::path(Utf16ToUtf8Lossy(self)).parent_path() / kStubName).string();
}

// Every winqor program ends with its resource table, as built with the placeholder at least.
// A file without one is no stub: most often a winqor stripped after the build, which lost the
// table with everything else past its ELF sections.
bool HasResourceTable(const std::vector<uint8_t>& program) {
    ResourceTable table;
    return ParseResourceTable(program, table) != TableStatus::kAbsent;
}

// An archive is embedded byte for byte, so nothing about it can be chosen here.
int ArchiveFromFile(const SfxOptions& options, std::vector<uint8_t>& archive) {
    const PackOptions& pack = options.pack;
    if (pack.runSetup || !pack.passwordFile.empty() || !pack.excludes.empty() ||
        !pack.excludeFrom.empty() || pack.reproducible) {
        PrintError(
            "--run-setup, --password-file, --exclude, --exclude-from and --reproducible apply "
            "to a folder; an archive is embedded unchanged");
        return kExitUsage;
    }
    const ReadOutcome read = ReadBounded(options.input, kMaxArchiveBytes, archive);
    if (read != ReadOutcome::kRead) {
        PrintError(read == ReadOutcome::kTooLarge
                       ? "not an archive: larger than 256 + 10,485,504 bytes"
                       : "cannot open the archive",
                   options.input);
        return kExitBadArchive;
    }
    ArchiveExtractor check;
    if (check.LoadFromImage(archive.data(), archive.size()) == 0) {
        PrintError(DescribeFailure(check.failure()), options.input);
        return kExitBadArchive;
    }
    if (!IsEmbedded(*HeaderAt(archive.data()))) {
        PrintError(
            "warning: the archive's embedded byte is 0, so the program will open its window "
            "instead of extracting",
            options.input);
    }
    return kExitSuccess;
}

int ArchiveFromFolder(const SfxOptions& options, std::vector<uint8_t>& archive) {
    std::error_code error;
    const fs::path setup = fs::path(options.input) / "Setup.exe";
    if (options.pack.runSetup && !fs::is_regular_file(fs::symlink_status(setup, error))) {
        PrintError("--run-setup needs a Setup.exe at the top of the folder", options.input);
        return kExitUsage;
    }
    PackedFolder packed;
    const int status = PackFolder(options.input, options.pack, options.output, packed);
    archive = std::move(packed.archive);
    return status;
}

// Where the program will extract, as its user will see it.
std::string OutputFolderOf(const std::string& program) {
    std::u16string path;
    char16_t folder[kMaxPath];
    if (!Utf8ToUtf16(program, path) || !OutputFolderFor(path.c_str(), folder)) return {};
    return Utf16ToUtf8Lossy(folder);
}

// The winqor program to copy, read before any archive is made so that a wrong one costs no
// packing.
int ReadStub(const std::string& stub, std::vector<uint8_t>& program) {
    const ReadOutcome read = ReadBounded(stub, kMaxStubBytes, program);
    if (read != ReadOutcome::kRead) {
        PrintError(read == ReadOutcome::kTooLarge
                       ? "not a winqor program: larger than 1 GiB (give --stub PATH)"
                       : "cannot read the winqor program to copy (give --stub PATH)",
                   stub);
        return kExitUsage;
    }
    if (!HasResourceTable(program)) {
        PrintError(
            "not a winqor program: it has no resource table (strip removes it); copy the "
            "build's bin/winqor or the installed one as they are, or give --stub PATH",
            stub);
        return kExitUsage;
    }
    return kExitSuccess;
}

int WriteProgram(const SfxOptions& options, const std::string& stub,
                 const std::vector<uint8_t>& program, const std::vector<uint8_t>& archive) {
    std::vector<uint8_t> out;
    std::string error;
    const NewResource addition{kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, archive};
    if (!AppendResources(program, {&addition, 1}, out, error)) {
        PrintError(error, stub);
        return kExitUsage;
    }
    if (!WriteProgramFile(options.output, out, error)) {
        PrintError("cannot write the program: " + error, options.output);
        return kExitWriteFailed;
    }
    std::cout << "wrote " << EscapeForDisplay(options.output) << ", which extracts into "
              << EscapeForDisplay(OutputFolderOf(options.output)) << '\n';
    return kExitSuccess;
}

}  // namespace

int RunSfx(const SfxOptions& options) {
    std::error_code error;
    const std::string stub = StubPath(options);
    std::vector<uint8_t> program, archive;
    const int read = ReadStub(stub, program);
    if (read != kExitSuccess) return read;
    const int made = fs::is_directory(options.input, error) ? ArchiveFromFolder(options, archive)
                                                            : ArchiveFromFile(options, archive);
    return made != kExitSuccess ? made : WriteProgram(options, stub, program, archive);
}

int LoadEmbeddedArchive(const std::string& program, ArchiveExtractor& extractor) {
    ResourceFile file;
    if (!file.Open(program)) return 0;
    if (file.status() == TableStatus::kCorrupt) {
        PrintError("damaged program file: its resource table does not hold together", program);
        return -1;
    }
    const ResourceEntry* entry = file.Find(kSetupArchiveType, kSetupArchiveId);
    std::vector<uint8_t> image;
    if (entry == nullptr || entry->size < sizeof kMagic) return 0;
    if (!file.Read(*entry, kMaxArchiveBytes, image)) {
        PrintError("cannot read the archive inside the program", program);
        return -1;
    }
    // The placeholder of a program built without an archive is no archive.
    if (!std::equal(std::begin(kMagic), std::end(kMagic), image.begin())) return 0;
    if (extractor.LoadFromImage(image.data(), image.size()) != 0) return 1;
    PrintFailure(extractor, program);
    return -1;
}

}  // namespace winqor::aze
