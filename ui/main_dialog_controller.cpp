#include "ui/main_dialog_controller.h"

#include <memory>
#include <new>

#include "base/limits.h"
#include "base/text.h"
#include "engine/archive_extractor.h"
#include "engine/extract_embedded.h"
#include "engine/file_ops.h"
#include "format/archive_header.h"
#include "platform/tree_reading.h"
#include "platform/tree_writing.h"
#include "protection/password.h"

namespace winqor {
namespace {

// StripExtension works in place on a terminated buffer; the string's own buffer serves.
std::u16string WithoutExtension(std::u16string path) {
    StripExtension(path.data());
    path.resize(Utf16Length(path.c_str()));
    return path;
}

// Empty when the current directory cannot be read; the file dialog then opens where it likes.
std::u16string CurrentFolder() {
    std::u16string folder(kMaxPath, u'\0');
    folder.resize(GetCurrentDirectory(folder.data(), kMaxPath));
    return folder;
}

bool IsExistingFile(const std::u16string& path) {
    std::string native;
    FolderEntry entry;
    return !path.empty() && Utf16ToUtf8(path, native) &&
           DescribePath(native, /*followLink=*/true, entry) && entry.kind == EntryKind::kFile;
}

// The password dialog reads the header of the archive in question through g_currentHeader,
// which keeps pointing at the header last read from a file after the extractor is gone.
void PublishHeader(const ArchiveExtractor& extractor) {
    if (extractor.header() == nullptr) return;
    g_headerCopy = *extractor.header();
    g_currentHeader = &g_headerCopy;
}

}  // namespace

std::u16string WithDefaultExtension(const std::u16string& path, const char16_t* extension) {
    if (WithoutExtension(path).size() != path.size()) return path;
    return path + u"." + extension;
}

ExtractOutcome MainDialogController::Extract() {
    std::unique_ptr<ArchiveExtractor> extractor(new (std::nothrow) ArchiveExtractor);
    if (!extractor) return ExtractOutcome::kNotLoaded;
    // The whole archive is in memory after a load, so the file is closed at once.
    const int loaded = extractor->LoadFromFile(m_archivePath.c_str());
    extractor->CloseArchiveFile();
    PublishHeader(*extractor);
    if (loaded == 0) return ExtractOutcome::kNotLoaded;
    if (g_currentHeader != nullptr && IsEncrypted(*g_currentHeader)) {
        if (!RunPasswordDialog()) return ExtractOutcome::kPasswordCancelled;
        extractor->SetPasswordDigest(g_passwordDigest);
    }
    return extractor->ExtractToFolder(m_destinationFolder.c_str()) != 0
               ? ExtractOutcome::kExtracted
               : ExtractOutcome::kExtractionFailed;
}

bool MainDialogController::BrowseArchive() {
    std::u16string chosen;
    if (!ChooseArchiveFile(CurrentFolder(), chosen) || chosen.empty()) return false;
    m_archivePath = WithDefaultExtension(chosen, kArchiveExtension);
    SetDefaultDestination();
    return true;
}

bool MainDialogController::OpenArchive(const std::u16string& path) {
    // An existing file is named as it is: no extension is added, unlike a typed name.
    if (!IsExistingFile(path)) return false;
    m_archivePath = path;
    SetDefaultDestination();
    return true;
}

bool MainDialogController::BrowseFolder() {
    std::u16string folder = m_destinationFolder;
    if (!ChooseFolder(kFolderPickerTitle, folder)) return false;
    m_destinationFolder = folder;
    return true;
}

void MainDialogController::SetDefaultDestination() {
    // The same rule as aze's and the self-extracting run's: a path too long for any folder
    // leaves the field empty.
    char16_t folder[kMaxPath];
    m_destinationFolder = OutputFolderFor(m_archivePath.c_str(), folder) ? folder : u"";
}

}  // namespace winqor
