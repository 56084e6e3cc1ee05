#include "engine/extract_embedded.h"

#include <cstring>

#include "engine/file_ops.h"
#include "format/archive_header.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/tree_writing.h"

namespace winqor {
namespace {

constexpr char16_t kSetupProgram[] = u"Setup.exe";
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

// Copies the stored payload into input; the image itself is never written, and nothing past
// its end is read.
int CopyPayload(ArchiveExtractor& extractor, const uint8_t* payload, uint64_t available) {
    if (payload == nullptr || available < extractor.packedSize) {
        extractor.RecordFailure(Failure::kShortPayload);
        return 0;
    }
    std::memcpy(extractor.input->data, payload, extractor.packedSize);
    return 1;
}

// Only the Setup.exe that this run has just written at the top of the output folder is
// started: whatever else stands there now (a link, another user's program, a file swapped in
// since) is not.
int StartSetup(ArchiveExtractor& extractor) {
    FileId written;
    if (!extractor.WatchedFileWritten(written)) {
        OutputDebugString(u"Setup.exe was not extracted to the output folder: nothing started\n");
        return 0;
    }
    uint32_t status = 0;
    if (StartProgramAndWait(extractor.rootFolder(), kSetupProgram, written, &status) == 0) return 0;
    extractor.RecordSetupExit(status);
    return 1;
}

// The run writes only into a real folder of the running user: in a shared folder, another user
// could have prepared one (or a link) to have files written, and a program started, for them.
bool EnterOutputFolder(ArchiveExtractor& extractor, const char16_t* outputFolder) {
    if (extractor.EnterRoot(outputFolder, RootTrust::kOwned) != 0) return true;
    const Failure failure = extractor.failure();
    if (failure == Failure::kRootIsLink || failure == Failure::kRootNotOwned) {
        const std::u16string why = Widen(DescribeFailure(failure));
        DebugPrint(u"winqor: %s: %s\n", outputFolder, why.c_str());
    }
    return false;
}

// What the confined child does once the output folder was entered: the folder stays open.
int DecodeAndWrite(ArchiveExtractor& extractor, const uint8_t* payload,
                   uint64_t payloadBytesAvailable) {
    if (extractor.ValidateHeader() == 0 ||
        CopyPayload(extractor, payload, payloadBytesAvailable) == 0) {
        return 0;
    }
    const int decoded = extractor.DecodePayload();
    // A walk that fails part way still leaves its files, and Setup.exe is still started.
    if (decoded != 0) extractor.OutputArchive();
    return decoded;
}

// The files are written by a child confined to the output folder; Setup.exe is started by
// this process, unconfined, since an installer must write where it installs.
int DecodeWriteAndStart(ArchiveExtractor& extractor, const uint8_t* payload,
                        uint64_t payloadBytesAvailable) {
    const bool runSetup = RunsSetup(*g_currentHeader);
    if (runSetup) extractor.WatchRootFile(kSetupProgram);
    const int decoded = extractor.RunConfined(
        [&] { return DecodeAndWrite(extractor, payload, payloadBytesAvailable); });
    if (decoded == 0) return 0;
    // The walk leaves the current directory in the last folder it wrote.
    extractor.ReenterRoot();
    if (!runSetup) return decoded;
    return StartSetup(extractor);
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
                          const uint8_t* payload, uint64_t payloadBytesAvailable) {
    char16_t outputFolder[kMaxPath];
    if (!OutputFolderFor(programPath, outputFolder)) {
        extractor.RecordFailure(Failure::kPathTooLong, Utf16View(programPath));
        return 0;
    }
    if (!EnterOutputFolder(extractor, outputFolder)) return 0;
    const int result = DecodeWriteAndStart(extractor, payload, payloadBytesAvailable);
    extractor.CloseFolders();
    return result;
}

bool ArchiveExtractor::SetupExitStatus(uint32_t& status) const {
    status = setupExitStatus_;
    return setupStarted_;
}

int ArchiveExtractor::ExtractEmbedded(const uint8_t* payload, uint64_t payloadBytesAvailable) {
    char16_t programPath[kMaxPath];
    if (GetModuleFileName(programPath, kMaxPath) == 0) {
        RecordFailure(Failure::kPathTooLong);
        return 0;
    }
    return ExtractEmbeddedBeside(*this, programPath, payload, payloadBytesAvailable);
}

}  // namespace winqor
