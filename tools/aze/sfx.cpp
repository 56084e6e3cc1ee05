// aze sfx: a copy of the winqor program that carries an archive as its neutral SETUP_ARCHIVE
// resource, so that it unpacks the archive beside itself when started: a Linux winqor gets it
// in its resource table, a Windows winqor.exe in its PE resource tree. (The way back, the
// archive inside such a program, is engine/embedded_archive.h.)
#include <algorithm>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/limits.h"
#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "format/archive_header.h"
#include "image/licence_resource.h"
#include "image/pe_resources.h"
#include "image/resource_table.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/tree_reading.h"
#include "platform/whole_file.h"
#include "tools/aze/commands.h"
#include "tools/aze/sfx_identity.h"

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
// anyway) is embedded as it is, with a warning. false, with reason set, when the archive
// carries no Setup.exe there.
bool CheckCarriesSetup(ArchiveExtractor& archive, const std::string& input, std::string& reason) {
    if (IsEncrypted(*archive.header())) {
        PrintWarning(
            "the archive is encrypted, so whether it carries the Setup.exe it asks to start is "
            "not checked",
            input);
        return true;
    }
    if (archive.DecodePayload() == 0 || !RecordsCarrySetup(archive)) {
        if (archive.failure() == Failure::kNone) {
            reason = Concerning(
                "the archive asks to start a Setup.exe that it does not carry at its top", input);
            return false;
        }
        PrintWarning(DescribeFailure(archive.failure()), input);
    }
    return true;
}

// An archive is embedded byte for byte, so nothing about it can be chosen here.
ExitStatus ArchiveFromFile(const SfxOptions& options, std::vector<uint8_t>& archive,
                           std::string& reason) {
    const PackOptions& pack = options.pack;
    if (pack.runSetup || !pack.passwordFile.empty() || !pack.excludes.empty() ||
        !pack.excludeFrom.empty() || pack.reproducible) {
        reason =
            "--run-setup, --password-file, --exclude, --exclude-from and --reproducible apply "
            "to a folder; an archive is embedded unchanged";
        return ExitStatus::kUsage;
    }
    std::string why;
    const ReadOutcome read = ReadWholeFile(options.input, kMaxArchiveBytes, archive, why);
    if (read != ReadOutcome::kRead) {
        reason = Concerning(read == ReadOutcome::kTooLarge
                                ? "not an archive: larger than " + std::to_string(kHeaderBytes) +
                                      " + " + WithThousands(kMaxPayloadSize) + " bytes"
                                : "cannot open the archive",
                            options.input);
        return ExitStatus::kBadArchive;
    }
    ArchiveExtractor check;
    if (check.LoadFromImage(archive.data(), archive.size()) == 0) {
        reason = Concerning(DescribeFailure(check.failure()), options.input);
        return ExitStatus::kBadArchive;
    }
    if (RunsSetup(*check.header()) && !CheckCarriesSetup(check, options.input, reason)) {
        return ExitStatus::kBadArchive;
    }
    if (!IsEmbedded(*HeaderAt(archive.data()))) {
        PrintWarning(
            "the archive's embedded byte is 0, so the program will open its window instead of "
            "extracting",
            options.input);
    }
    return ExitStatus::kSuccess;
}

ExitStatus ArchiveFromFolder(const SfxOptions& options, std::vector<uint8_t>& archive,
                             std::string& reason) {
    PackedFolder packed;
    const ExitStatus status =
        PackFolder(options.input, options.pack, options.output, packed, reason);
    archive = std::move(packed.archive);
    return status;
}

// A Windows winqor.exe carries the placeholder and can take another section: a damaged or
// signed program, or one without room for another section header, is refused here.
bool CheckWindowsStub(const std::string& stub, const std::vector<uint8_t>& program,
                      std::string& reason) {
    std::string why;
    std::vector<PeResource> resources;
    if (ReadPeResources(program, resources, why) != PeStatus::kValid ||
        !CanAddPeResources(program, why)) {
        reason = Concerning(why, stub);
        return false;
    }
    if (FindPeResource(resources, kSetupArchiveTypeUtf16, kSetupArchiveId) == nullptr) {
        reason = Concerning(
            "not a winqor program: it carries no SETUP_ARCHIVE resource (give --stub PATH)", stub);
        return false;
    }
    return true;
}

bool CheckLinuxStub(const SfxOptions& options, const std::string& stub,
                    const std::vector<uint8_t>& program, std::string& reason) {
    if (options.windows) {
        reason =
            Concerning(IsElf(program) ? "--windows needs a Windows winqor.exe, and this is a Linux "
                                        "(ELF) program; leave out --windows to make a Linux program"
                                      : "--windows needs a Windows winqor.exe, and this is none",
                       stub);
        return false;
    }
    if (!HasResourceTable(program)) {
        reason = Concerning(
            "not a winqor program: it has no resource table (strip removes it); copy the "
            "build's bin/winqor or the installed one as they are, or give --stub PATH",
            stub);
        return false;
    }
    return true;
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
// false, with reason set, when it is none to copy.
bool ReadStub(const SfxOptions& options, const std::string& stub, std::vector<uint8_t>& program,
              StubKind& kind, std::string& reason) {
    std::string why;
    const ReadOutcome read = ReadWholeFile(stub, kMaxStubBytes, program, why);
    if (read != ReadOutcome::kRead) {
        reason = Concerning(CannotReadStub(options, read), stub);
        return false;
    }
    kind = LooksLikePe(program) ? StubKind::kWindows : StubKind::kLinux;
    return kind == StubKind::kWindows ? CheckWindowsStub(stub, program, reason)
                                      : CheckLinuxStub(options, stub, program, reason);
}

// The stub with the archive as its neutral SETUP_ARCHIVE resource, the licence (when there is
// one) as its neutral SETUP_LICENSE resource, and a Windows program's identity, when given.
bool MakeProgram(StubKind kind, const std::vector<uint8_t>& program,
                 const std::vector<uint8_t>& archive, const std::vector<uint8_t>& licence,
                 const WindowsIdentity& identity, std::vector<uint8_t>& out, std::string& reason) {
    const size_t count = licence.empty() ? 1 : 2;
    if (kind == StubKind::kWindows) {
        const PeNewResource additions[] = {
            {kSetupArchiveTypeUtf16, kSetupArchiveId, kLanguageNeutral, archive},
            {kSetupLicenceTypeUtf16, kSetupLicenceId, kLanguageNeutral, licence}};
        if (identity.given()) {
            return AddResourcesWithIdentity(program, identity, {additions, count}, out, reason);
        }
        return AddPeResources(program, {additions, count}, out, reason);
    }
    const NewResource additions[] = {
        {kSetupArchiveType, kSetupArchiveId, kLanguageNeutral, archive},
        {kSetupLicenceType, kSetupLicenceId, kLanguageNeutral, licence}};
    return AppendResources(program, {additions, count}, out, reason);
}

ExitStatus WriteProgram(const SfxOptions& options, const std::string& stub, StubKind kind,
                        const std::vector<uint8_t>& program, const std::vector<uint8_t>& archive,
                        const std::vector<uint8_t>& licence, const WindowsIdentity& identity,
                        std::string& reason) {
    std::vector<uint8_t> out;
    std::string why;
    if (!MakeProgram(kind, program, archive, licence, identity, out, why)) {
        reason = Concerning(why, stub);
        return ExitStatus::kUsage;
    }
    if (!WriteProgramFile(options.output, out, why)) {
        reason = Concerning("cannot write the program: " + why, options.output);
        return ExitStatus::kWriteFailed;
    }
    std::cout << "wrote " << EscapeForDisplay(options.output) << ", which extracts into "
              << EscapeForDisplay(DefaultOutputFolder(options.output)) << '\n';
    return ExitStatus::kSuccess;
}

}  // namespace

ExitStatus RunSfx(const SfxOptions& options, std::string& reason) {
    const std::string stub = StubPath(options);
    std::vector<uint8_t> program, archive;
    StubKind kind = StubKind::kLinux;
    if (!ReadStub(options, stub, program, kind, reason)) return ExitStatus::kUsage;
    WindowsIdentity identity;
    if (!PrepareWindowsIdentity(options, kind == StubKind::kWindows, program, identity, reason)) {
        return ExitStatus::kUsage;
    }
    std::vector<uint8_t> licence;
    if (!options.licence.empty() && !ReadLicenceFile(options.licence, licence, reason)) {
        return ExitStatus::kUsage;
    }
    const ExitStatus made = IsFolder(options.input) ? ArchiveFromFolder(options, archive, reason)
                                                    : ArchiveFromFile(options, archive, reason);
    if (made != ExitStatus::kSuccess) return made;
    return WriteProgram(options, stub, kind, program, archive, licence, identity, reason);
}

}  // namespace winqor::aze
