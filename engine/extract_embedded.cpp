#include "engine/extract_embedded.h"

#include <cstring>

#include "engine/file_ops.h"
#include "format/archive_header.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/text.h"

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

// The launch takes an unquoted path to Setup.exe in the output folder, without arguments.
bool BuildSetupCommand(const char16_t* folder, char16_t command[kMaxPath]) {
    command[0] = 0;
    return Append(command, folder) && Append(command, std::u16string_view(&kPathSeparator, 1)) &&
           Append(command, kSetupProgram);
}

std::u16string_view Text(const char16_t* text) {
    return {text, Utf16Length(text)};
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

int StartSetup(ArchiveExtractor& extractor, const char16_t* outputFolder) {
    char16_t command[kMaxPath];
    if (!BuildSetupCommand(outputFolder, command)) {
        extractor.RecordFailure(Failure::kPathTooLong, Text(outputFolder));
        return 0;
    }
    return StartProgramAndWait(command);
}

}  // namespace

bool OutputFolderFor(const char16_t* programPath, char16_t folder[kMaxPath]) {
    folder[0] = 0;
    if (programPath == nullptr || programPath[0] == 0 || !Append(folder, Text(programPath))) {
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
        extractor.RecordFailure(Failure::kPathTooLong, Text(programPath));
        return 0;
    }
    if (extractor.EnterRoot(outputFolder) == 0 || extractor.ValidateHeader() == 0 ||
        CopyPayload(extractor, payload, payloadBytesAvailable) == 0) {
        return 0;
    }
    const int decoded = extractor.DecodePayload();
    if (decoded == 0) return 0;
    // A walk that fails part way still leaves its files, and Setup.exe is still started.
    extractor.OutputArchive();
    // The walk leaves the current directory in the last folder it wrote.
    ChangeDirectory(outputFolder);
    if (!RunsSetup(*g_currentHeader)) return decoded;
    return StartSetup(extractor, outputFolder);
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
