#include "engine/extract_embedded.h"

#include <cstring>

#include "base/text.h"
#include "engine/file_ops.h"
#include "format/archive_header.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/tree_reading.h"
#include "platform/tree_writing.h"

namespace winqor {
namespace {

constexpr char16_t kNoExtensionSuffix[] = u".d";

// Appends tail to the terminated path in its kMaxPath buffer; false, leaving the path as it
// was, when the two do not fit.
bool Append(char16_t path[kMaxPath], std::u16string_view tail) {
    const size_t length = Utf16Length(path);
    if (tail.size() >= kMaxPath - length) return false;
    tail.copy(path + length, tail.size());
    path[length + tail.size()] = 0;
    return true;
}

std::u16string Widen(const char* ascii) {
    return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii));
}

// One line on the debug channel: which file or folder stopped the run, and why.
void SayWhyTheRunStopped(const ArchiveExtractor& extractor) {
    const std::u16string why = Widen(DescribeFailure(extractor.failure()));
    const std::u16string& where = extractor.failureWhere();
    if (where.empty()) {
        DebugPrint(u"winqor: %s\n", why.c_str());
    } else {
        DebugPrint(u"winqor: %s: %s\n", where.c_str(), why.c_str());
    }
}

// Why the output folder cannot be used, for the run's one line about it.
std::u16string WhyNotUsable(Failure failure, const char16_t* outputFolder) {
    FolderEntry entry;
    if (failure == Failure::kRootFailed &&
        DescribePath(Utf16ToUtf8Lossy(outputFolder), /*followLink=*/false, entry) &&
        entry.kind != EntryKind::kFolder) {
        return u"cannot create the output folder: a file of that name is in the way";
    }
    return Widen(DescribeFailure(failure));
}

// The run writes only into a real folder of the running user (or root) that nobody else can
// write to: in a shared folder, another user could have prepared one (or a link) to have files
// written, and a program started, for them.
bool EnterOutputFolder(ArchiveExtractor& extractor, const char16_t* outputFolder) {
    if (extractor.EnterRoot(outputFolder, RootTrust::kOwned) != 0) return true;
    const std::u16string why = WhyNotUsable(extractor.failure(), outputFolder);
    DebugPrint(u"winqor: %s: %s\n", outputFolder, why.c_str());
    return false;
}

bool AsksForSetup(const uint8_t* image, uint64_t imageBytes) {
    return image != nullptr && imageBytes >= kHeaderBytes && RunsSetup(*HeaderAt(image));
}

// The files are written by a child confined to the output folder; Setup.exe is started by
// this process, unconfined, since an installer must write where it installs.
int DecodeWriteAndStart(ArchiveExtractor& extractor, const uint8_t* image, uint64_t imageBytes,
                        const SetupLaunch& setup) {
    const bool runSetup = setup.start && AsksForSetup(image, imageBytes);
    ExtractionRequest request = extractor.Request(ExtractionMode::kExtract, image, imageBytes);
    if (runSetup) request.watch = kSetupProgram;
    // Every name is checked, by this system's rules too, before the first file is written. A
    // walk that fails part way all the same (a file that cannot be written) leaves its files;
    // the failure it records keeps Setup.exe from being started on them.
    const ExtractionResult result = extractor.Run(request);
    if (result.outcome == ExtractionOutcome::kDamaged ||
        result.outcome == ExtractionOutcome::kSandboxFailed) {
        return 0;
    }
    // The walk leaves the current directory in the last folder it wrote.
    MakeCurrent(extractor.rootFolder());
    // An installer started on a tree written only in part would install something else than
    // what was packed, and its success would pass for the run's.
    if (extractor.failure() != Failure::kNone) {
        SayWhyTheRunStopped(extractor);
        return 1;
    }
    if (!runSetup) return 1;
    return extractor.StartSetup(setup.arguments);
}

}  // namespace

bool OutputFolderFor(const char16_t* programPath, char16_t folder[kMaxPath]) {
    folder[0] = 0;
    if (programPath == nullptr || programPath[0] == 0 || !Append(folder, Utf16View(programPath))) {
        return false;
    }
    const size_t length = Utf16Length(folder);
    if (Utf16Length(StripExtension(folder)) != length) return true;
    return Append(folder, kNoExtensionSuffix);
}

int ExtractEmbeddedBeside(ArchiveExtractor& extractor, const char16_t* programPath,
                          const uint8_t* image, uint64_t imageBytes) {
    char16_t outputFolder[kMaxPath];
    if (!OutputFolderFor(programPath, outputFolder)) {
        DebugPrint(u"winqor: the output folder's path is too long: %s\n", programPath);
        extractor.RecordFailure(Failure::kPathTooLong, Utf16View(programPath));
        return 0;
    }
    return ExtractEmbeddedInto(extractor, outputFolder, image, imageBytes);
}

int ExtractEmbeddedInto(ArchiveExtractor& extractor, const char16_t* outputFolder,
                        const uint8_t* image, uint64_t imageBytes, const SetupLaunch& setup) {
    if (!EnterOutputFolder(extractor, outputFolder)) return 0;
    const int result = DecodeWriteAndStart(extractor, image, imageBytes, setup);
    extractor.CloseFolders();
    return result;
}

// Only the Setup.exe that this run has just written at the top of the output folder is
// started: whatever else stands there now (a link, another user's program, a file swapped in
// since) is not.
int ArchiveExtractor::StartSetup(const std::vector<std::u16string>& arguments) {
    FileId written;
    if (!tree_.WatchedFileWritten(written)) {
        OutputDebugString(u"Setup.exe was not extracted to the output folder: nothing started\n");
        return 0;
    }
    uint32_t status = 0;
    if (StartProgramAndWait(tree_.rootFolder(), kSetupProgram, written, &status, arguments) == 0) {
        return 0;
    }
    report_.RecordSetupExit(status);
    return 1;
}

int ArchiveExtractor::ExtractEmbedded(const uint8_t* image, uint64_t imageBytes) {
    char16_t programPath[kMaxPath];
    if (GetModuleFileName(programPath, kMaxPath) == 0) {
        OutputDebugString(u"winqor: the program's own path is too long to read\n");
        report_.RecordFailure(Failure::kPathTooLong);
        return 0;
    }
    return ExtractEmbeddedBeside(*this, programPath, image, imageBytes);
}

}  // namespace winqor
