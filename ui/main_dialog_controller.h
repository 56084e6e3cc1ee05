// What the main window's commands do, apart from the window itself: the Extract command, the
// two browse commands and the default destination. The window supplies the three things only
// it can do (ask for a password, let the user pick a file or a folder); tests supply their own.
#pragma once

#include <string>

namespace winqor {

// What became of one Extract command. The window shows none of it; tests look at it.
enum class ExtractOutcome {
    kExtracted,          // the extraction ran and reported success
    kNotLoaded,          // no archive could be loaded from the archive field
    kPasswordCancelled,  // the password dialog ended without the right password
    kExtractionFailed,   // the extraction ran and reported failure
};

class MainDialogController {
  public:
    virtual ~MainDialogController() = default;

    // The Extract command: a fresh extractor loads the archive named by m_archivePath, asks
    // for the password when the header says the payload is encrypted, and extracts below
    // m_destinationFolder as typed (a relative folder is taken from the current directory).
    // The fields are left as they are.
    ExtractOutcome Extract();

    // Offers the archive file dialog in the current directory; a chosen file sets both
    // fields. True when the fields changed.
    bool BrowseArchive();

    // Takes path as the archive exactly as if it had been picked in the file dialog (both
    // fields change), but only when it names an existing regular file, a link to one
    // included; anything else leaves the fields alone. True when the fields changed. The
    // window opens with the file it was started with and takes files dropped on it this way.
    bool OpenArchive(const std::u16string& path);

    // Offers the folder picker; a chosen folder replaces m_destinationFolder. True when it
    // changed.
    bool BrowseFolder();

    // The destination that goes with m_archivePath: the path without the extension of its
    // last component, or the path followed by ".d" when it has none, so that the folder
    // never takes the archive's own name.
    void SetDefaultDestination();

    std::u16string m_destinationFolder;
    std::u16string m_archivePath;

  protected:
    // The password dialog, run modally; true only when it accepted the right password (its
    // digest is then in g_passwordDigest).
    virtual bool RunPasswordDialog() = 0;
    // The archive file dialog opened in initialFolder; true with the chosen path in path.
    virtual bool ChooseArchiveFile(const std::u16string& initialFolder, std::u16string& path) = 0;
    // The folder picker with this title; true with the chosen folder in folder, which is
    // left untouched otherwise.
    virtual bool ChooseFolder(const char16_t* title, std::u16string& folder) = 0;
};

// The title of the folder picker.
inline constexpr char16_t kFolderPickerTitle[] = u"Select a folder to extract:";
// The one filter of the archive file dialog and the extension added to a name typed without one.
inline constexpr char kArchiveFilterName[] = "Executables (*.aze)";
inline constexpr char kArchiveFilterPattern[] = "*.aze";
inline constexpr char16_t kArchiveExtension[] = u"aze";

// path with "." and extension appended when its last component has no extension of its own
// (a leading dot of the component is not one).
std::u16string WithDefaultExtension(const std::u16string& path, const char16_t* extension);

}  // namespace winqor
