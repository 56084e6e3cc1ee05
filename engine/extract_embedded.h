// The self-extracting run's extraction: the archive a program carries, unpacked into a folder
// named after the program's file, and its Setup.exe started when the header asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"
#include "engine/archive_extractor.h"

namespace winqor {

// The one program a self-extracting run starts, from the top of its output folder, when the
// archive's header asks for it.
inline constexpr char16_t kSetupProgram[] = u"Setup.exe";

// What ArchiveExtractor::ExtractEmbedded does once it knows the running program's path; the
// archive is an image of imageBytes bytes, its header first. The extractor takes its copy of
// the header from the image; for an encrypted archive it must hold the password's digest
// already. Non-zero on success (1 after Setup.exe ran), 0 at the first step that fails.
int ExtractEmbeddedBeside(ArchiveExtractor& extractor, const char16_t* programPath,
                          const uint8_t* image, uint64_t imageBytes);

// Whether a run starts the Setup.exe its archive asks for, and with which arguments.
struct SetupLaunch {
    bool start = true;
    std::vector<std::u16string> arguments;
};

// ExtractEmbeddedBeside with the output folder given (made if missing, one level, and held to
// the same rules as the folder beside the program).
int ExtractEmbeddedInto(ArchiveExtractor& extractor, const char16_t* outputFolder,
                        const uint8_t* image, uint64_t imageBytes, const SetupLaunch& setup = {});

// The folder a program extracts into: its path with the extension of its file name cut, or
// with ".d" appended when the name has none, so that the folder never collides with the
// program itself. false when the path is missing or the result does not fit.
bool OutputFolderFor(const char16_t* programPath, char16_t folder[kMaxPath]);

}  // namespace winqor
