// The main extraction window: an archive, a destination folder, Extract and Exit. It stays
// open for one extraction after another until the user leaves it.
#pragma once

#include "ui/main_dialog_controller.h"
#include "ui/win32/dialog.h"

// After <windows.h>, which dialog.h includes.
#include <shellapi.h>

namespace winqor {

class CWinQORDlg : public CDialog, public MainDialogController {
  public:
    explicit CWinQORDlg(CDialog* parent = nullptr);

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    BOOL OnInitDialog() override;
    // The Extract command; the window stays open.
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

    bool RunPasswordDialog() override;
    bool ChooseArchiveFile(const std::u16string& initialFolder, std::u16string& path) override;
    bool ChooseFolder(const char16_t* title, std::u16string& folder) override;

  private:
    // The separator and "&About winQOR..." at the end of the system menu.
    void AddAboutEntry();
    // A command of the system menu; false leaves it to the system.
    bool OnSysCommand(UINT commandId);
    // Draws the icon when the window is minimised; false leaves painting to the system.
    bool OnPaint();
    // The two "..." buttons; false for any other command.
    bool OnBrowseCommand(WPARAM wParam);
    void OnBrowseArchive();
    void OnBrowseFolder();
    // A file dropped from the shell: taken like a file picked with the archive's "...".
    void OnDropFiles(HDROP drop);

    HICON m_hIcon;
};

}  // namespace winqor
