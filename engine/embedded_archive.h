// The archive a self-extracting program carries, read back from the program's file: a Linux
// program's resource table or a Windows program's resource tree, searched for the neutral
// SETUP_ARCHIVE/131 entry first, as the program itself searches it when it starts.
#pragma once

#include <string>

namespace winqor {

class ArchiveExtractor;

enum class EmbeddedArchive {
    kLoaded,
    kNone,     // the file carries no archive
    kDamaged,  // it carries a damaged one, or its resource table or tree is damaged
};

// Loads the archive carried inside the program at path into extractor (as LoadFromImage does),
// reading no more of its entry than an archive can hold. With kDamaged, reason says what is
// wrong with the program's file, or is left alone when the archive itself was refused: the
// extractor then holds its failure.
EmbeddedArchive LoadEmbeddedArchive(const std::string& path, ArchiveExtractor& extractor,
                                    std::string& reason);

}  // namespace winqor
