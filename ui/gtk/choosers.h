// The file and folder choosers the main window offers.
#pragma once

#include <gtk/gtk.h>

#include <string>

namespace winqor {

// The archive file dialog, open mode, showing "*.aze" files of initialFolder. True with the
// chosen path in path.
bool ChooseArchiveFile(GtkWindow* owner, const std::u16string& initialFolder, std::u16string& path);

// The folder picker with this title. True with the chosen folder in folder; false, folder
// untouched, when it was cancelled or the folder's name is not valid text.
bool BrowseForFolder(GtkWindow* owner, const char16_t* title, std::u16string& folder);

}  // namespace winqor
