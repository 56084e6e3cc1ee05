// The main window's run, the same on both systems over each one's dialog class.
#pragma once

#include <string>

#include "ui/local_path.h"

namespace winqor {

// Runs MainDialog (the system's CWinQORDlg) as the application's main window until the user
// leaves it. It opens with the file archiveArgument names (a path or a file: URI) when that is
// an existing file, as if it had been picked in the file dialog.
template <class MainDialog>
void RunAsMainWindow(const char* archiveArgument) {
    MainDialog dialog;
    std::u16string archive;
    if (LocalPathFromArgument(archiveArgument, archive)) dialog.OpenArchive(archive);
    MainDialog::SetMainWindow(&dialog);
    dialog.DoModal();
    MainDialog::SetMainWindow(nullptr);
}

}  // namespace winqor
