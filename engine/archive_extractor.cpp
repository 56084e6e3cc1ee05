#include "engine/archive_extractor.h"

namespace winqor {

ArchiveExtractor::~ArchiveExtractor() {
    archive.CloseArchiveFile();
    tree.CloseFolders();
}

int ArchiveExtractor::ExtractToFolder(const char16_t* folderPath) {
    if (tree.EnterRoot(folderPath) == 0) return 0;
    const int decoded = sandbox.RunConfined([this] {
        const int result = archive.DecodePayload();
        // A name that would be refused, anywhere in the stream, is found before the first write.
        if (result != 0 && tree.CheckRecords() != 0) tree.OutputArchive();
        return result;
    });
    tree.CloseFolders();
    return decoded;
}

}  // namespace winqor
