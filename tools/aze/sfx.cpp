// aze sfx: a copy of the winqor program that carries an archive as its neutral SETUP_ARCHIVE
// resource, so that it unpacks the archive beside itself when started: a Linux winqor gets it
// in its resource table, a Windows winqor.exe in its PE resource tree. Also the way back: the
// archive inside such a program, for list, test and extract.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "format/archive_header.h"
#include "platform/limits.h"
#include "platform/pe_resources.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "platform/tree_reading.h"
#include "platform/whole_file.h"
#include "tools/aze/commands.h"

namespace winqor::aze {
namespace {

constexpr char kStubName[] = "winqor";
// The Windows stub, from the folder of aze: bin/aze and lib/winqor/winqor.exe, in the build as
// once installed.
constexpr char kWindowsStubPath[] = "lib/winqor/winqor.exe";
// An archive is its header and a payload of at most kMaxPayloadSize bytes: nothing past that
// is read, whatever size a file or a resource entry claims.
constexpr uint64_t kMaxArchiveBytes = kHeaderBytes + uint64_t{kMaxPayloadSize};
// Far more than any winqor program; a larger file is not one, and is not read into memory.
constexpr uint64_t kMaxStubBytes = uint64_t{1} << 30;
// A self-extracting Windows program is read whole to find its archive: at most a stub and
// an archive.
constexpr uint64_t kMaxWindowsProgramBytes = kMaxStubBytes + kMaxArchiveBytes;
// Enough of a file to see whether it is a Windows program: its DOS header points at the PE
// signature, which comes early in every linker's output.
constexpr uint64_t kPeHeadBytes = 4096;
constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};

enum class StubKind { kLinux, kWindows };

// The folder that holds path: what comes before its last separator, the root folder for a
// path right below it, empty for a bare name.
std::string FolderOf(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && !IsPathSeparator(static_cast<unsigned char>(path[end - 1]))) --end;
    if (end == 0) return {};
    return path.substr(0, end == 1 ? 1 : end - 1);
}

// The winqor program beside this aze (with --windows: winqor.exe in ../lib/winqor), unless
// --stub names another.
std::string StubPath(const SfxOptions& options) {
    if (!options.stub.empty()) return options.stub;
    char16_t self[kMaxPath];
    const std::string folder =
        GetModuleFileName(self, kMaxPath) == 0 ? std::string() : FolderOf(Utf16ToUtf8Lossy(self));
    if (options.windows) return JoinNativePath(FolderOf(folder), kWindowsStubPath);
    return JoinNativePath(folder, kStubName);
}

bool IsElf(const std::vector<uint8_t>& program) {
    return program.size() >= sizeof kElfMagic &&
           std::memcmp(program.data(), kElfMagic, sizeof kElfMagic) == 0;
}

// Every winqor program ends with its resource table, as built with the placeholder at least.
// A file without one is no stub: most often a winqor stripped after the build, which lost the
// table with everything else past its ELF sections.
bool HasResourceTable(const std::vector<uint8_t>& program) {
    ResourceTable table;
    return ParseResourceTable(program, table) != TableStatus::kAbsent;
}

// An archive that asks the run to start Setup.exe must carry one at its top, or every run of
// the program would fail. One that cannot be looked into (encrypted, or damaged: its run fails
// anyway) is embedded as it is, with a warning. false, the failure printed, when the archive
// carries no Setup.exe there.
bool CheckCarriesSetup(ArchiveExtractor& archive, const std::string& input) {
    if (IsEncrypted(*archive.archive.header())) {
        PrintError(
            "warning: the archive is encrypted, so whether it carries the Setup.exe it asks "
            "to start is not checked",
            input);
        return true;
    }
    if (archive.DecodePayload() == 0 || !RecordsCarrySetup(archive)) {
        if (archive.report.failure() == Failure::kNone) {
            PrintError("the archive asks to start a Setup.exe that it does not carry at its top",
                       input);
            return false;
        }
        PrintError(std::string("warning: ") + DescribeFailure(archive.report.failure()), input);
    }
    return true;
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
    std::string reason;
    const ReadOutcome read = ReadWholeFile(options.input, kMaxArchiveBytes, archive, reason);
    if (read != ReadOutcome::kRead) {
        PrintError(read == ReadOutcome::kTooLarge
                       ? "not an archive: larger than " + std::to_string(kHeaderBytes) + " + " +
                             WithThousands(kMaxPayloadSize) + " bytes"
                       : "cannot open the archive",
                   options.input);
        return kExitBadArchive;
    }
    ArchiveExtractor check;
    if (check.LoadFromImage(archive.data(), archive.size()) == 0) {
        PrintError(DescribeFailure(check.report.failure()), options.input);
        return kExitBadArchive;
    }
    if (RunsSetup(*check.archive.header()) && !CheckCarriesSetup(check, options.input)) {
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

// A Windows winqor.exe carries the placeholder and can take another section: a damaged or
// signed program, or one without room for another section header, is refused here.
int CheckWindowsStub(const std::string& stub, const std::vector<uint8_t>& program) {
    std::string reason;
    std::vector<PeResource> resources;
    if (ReadPeResources(program, resources, reason) != PeStatus::kValid ||
        !CanAddPeResources(program, reason)) {
        PrintError(reason, stub);
        return kExitUsage;
    }
    if (FindPeResource(resources, kSetupArchiveTypeUtf16, kSetupArchiveId) == nullptr) {
        PrintError("not a winqor program: it carries no SETUP_ARCHIVE resource (give --stub PATH)",
                   stub);
        return kExitUsage;
    }
    return kExitSuccess;
}

int CheckLinuxStub(const SfxOptions& options, const std::string& stub,
                   const std::vector<uint8_t>& program) {
    if (options.windows) {
        PrintError(IsElf(program) ? "--windows needs a Windows winqor.exe, and this is a Linux "
                                    "(ELF) program; leave out --windows to make a Linux program"
                                  : "--windows needs a Windows winqor.exe, and this is none",
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

std::string CannotReadStub(const SfxOptions& options, ReadOutcome read) {
    if (read == ReadOutcome::kTooLarge) {
        return "not a winqor program: larger than 1 GiB (give --stub PATH)";
    }
    if (options.windows && options.stub.empty()) {
        return "cannot find the Windows winqor.exe to copy (aze looks in ../lib/winqor/ from "
               "its own folder; give --stub PATH)";
    }
    return "cannot read the winqor program to copy (give --stub PATH)";
}

// The winqor program to copy, read before any archive is made so that a wrong one costs no
// packing. Its bytes tell its kind: a PE file is a Windows program, anything else a Linux one.
int ReadStub(const SfxOptions& options, const std::string& stub, std::vector<uint8_t>& program,
             StubKind& kind) {
    std::string reason;
    const ReadOutcome read = ReadWholeFile(stub, kMaxStubBytes, program, reason);
    if (read != ReadOutcome::kRead) {
        PrintError(CannotReadStub(options, read), stub);
        return kExitUsage;
    }
    kind = LooksLikePe(program) ? StubKind::kWindows : StubKind::kLinux;
    return kind == StubKind::kWindows ? CheckWindowsStub(stub, program)
                                      : CheckLinuxStub(options, stub, program);
}

// The stub with the archive as its neutral SETUP_ARCHIVE resource.
bool MakeProgram(StubKind kind, const std::vector<uint8_t>& program,
                 const std::vector<uint8_t>& archive, std::vector<uint8_t>& out,
                 std::string& reason) {
    if (kind == StubKind::kWindows) {
        const PeNewResource addition{kSetupArchiveTypeUtf16, kSetupArchiveId, kLanguageNeutral,
                                     archive};
        return AddPeResources(program, {&addition, 1}, out, reason);
    }
    const NewResource addition{kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, archive};
    return AppendResources(program, {&addition, 1}, out, reason);
}

int WriteProgram(const SfxOptions& options, const std::string& stub, StubKind kind,
                 const std::vector<uint8_t>& program, const std::vector<uint8_t>& archive) {
    std::vector<uint8_t> out;
    std::string reason;
    if (!MakeProgram(kind, program, archive, out, reason)) {
        PrintError(reason, stub);
        return kExitUsage;
    }
    if (!WriteProgramFile(options.output, out, reason)) {
        PrintError("cannot write the program: " + reason, options.output);
        return kExitWriteFailed;
    }
    std::cout << "wrote " << EscapeForDisplay(options.output) << ", which extracts into "
              << EscapeForDisplay(OutputFolderOf(options.output)) << '\n';
    return kExitSuccess;
}

// The archive in a resource's bytes (at most kMaxArchiveBytes of them); see
// LoadEmbeddedArchive.
int LoadImage(std::span<const uint8_t> image, const std::string& program,
              ArchiveExtractor& extractor) {
    // The placeholder of a program built without an archive is no archive.
    if (image.size() < sizeof kMagic ||
        !std::equal(std::begin(kMagic), std::end(kMagic), image.begin())) {
        return 0;
    }
    if (extractor.LoadFromImage(image.data(), image.size()) != 0) return 1;
    PrintFailure(extractor, program);
    return -1;
}

// A Windows program is read whole and its resource tree searched as FindResourceW searches
// it: the neutral SETUP_ARCHIVE/131 first.
int LoadFromWindowsProgram(const std::string& program, ArchiveExtractor& extractor) {
    std::vector<uint8_t> bytes;
    std::string reason;
    const ReadOutcome read = ReadWholeFile(program, kMaxWindowsProgramBytes, bytes, reason);
    if (read != ReadOutcome::kRead) {
        PrintError(read == ReadOutcome::kTooLarge
                       ? "not read: a Windows program larger than a stub and an archive can be"
                       : "cannot read the program",
                   program);
        return -1;
    }
    std::vector<PeResource> resources;
    const PeStatus status = ReadPeResources(bytes, resources, reason);
    if (status == PeStatus::kDamaged) {
        PrintError(reason, program);
        return -1;
    }
    const PeResource* entry = FindPeResource(resources, kSetupArchiveTypeUtf16, kSetupArchiveId);
    if (status != PeStatus::kValid || entry == nullptr) return 0;
    const uint64_t size = std::min<uint64_t>(entry->size, kMaxArchiveBytes);
    return LoadImage(std::span<const uint8_t>(bytes).subspan(entry->offset, size), program,
                     extractor);
}

// Whether the opened file starts like a Windows program.
bool IsWindowsProgram(const ResourceFile& file) {
    const ResourceEntry whole{{}, 0, 0, 0, file.fileSize()};
    std::vector<uint8_t> head;
    return file.Read(whole, kPeHeadBytes, head) && LooksLikePe(head);
}

}  // namespace

int RunSfx(const SfxOptions& options) {
    const std::string stub = StubPath(options);
    std::vector<uint8_t> program, archive;
    StubKind kind = StubKind::kLinux;
    const int read = ReadStub(options, stub, program, kind);
    if (read != kExitSuccess) return read;
    const int made = IsFolder(options.input) ? ArchiveFromFolder(options, archive)
                                             : ArchiveFromFile(options, archive);
    return made != kExitSuccess ? made : WriteProgram(options, stub, kind, program, archive);
}

int LoadEmbeddedArchive(const std::string& program, ArchiveExtractor& extractor) {
    ResourceFile file;
    if (!file.Open(program)) return 0;
    if (IsWindowsProgram(file)) return LoadFromWindowsProgram(program, extractor);
    if (file.status() == TableStatus::kCorrupt) {
        PrintError("damaged program file: its resource table does not hold together", program);
        return -1;
    }
    const ResourceEntry* entry = file.Find(kSetupArchiveType, kSetupArchiveId);
    std::vector<uint8_t> image;
    if (entry == nullptr) return 0;
    if (!file.Read(*entry, kMaxArchiveBytes, image)) {
        PrintError("cannot read the archive inside the program", program);
        return -1;
    }
    return LoadImage(image, program, extractor);
}

}  // namespace winqor::aze
