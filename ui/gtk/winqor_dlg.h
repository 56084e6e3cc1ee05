// The main extraction window: an archive, a destination folder, Extract and Exit. It stays
// open for one extraction after another until the user leaves it.
#pragma once

#include "ui/gtk/dialog.h"
#include "ui/main_dialog_controller.h"

namespace winqor {

class CWinQORDlg : public CDialog, public MainDialogController {
  public:
    explicit CWinQORDlg(CDialog* parent = nullptr);

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    // The Extract command; the window stays open.
    void OnOK() override;
    void ConnectMessageMap() override;

    bool RunPasswordDialog() override;
    bool ChooseArchiveFile(const std::u16string& initialFolder, std::u16string& path) override;
    bool ChooseFolder(const char16_t* title, std::u16string& folder) override;

  private:
    void OnBrowseArchive();
    // A file dropped from a file manager, given by its URI: taken like a file picked with the
    // archive's "...". True when it was.
    bool OnDropFiles(const char* uri);
    void AcceptFileDrops();
    void OnBrowseFolder();
    // A command of the window menu, by its id.
    void OnSysCommand(unsigned commandId);
    void OnMenuItem(const char* itemId, unsigned commandId);
    // Shows the window menu: at the pointer for a click, at the window's corner otherwise.
    void PopUpWindowMenu(const GdkEvent* trigger);

    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, CWinQORDlg* self);
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, CWinQORDlg* self);
    static void OnDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint, gint,
                                   GtkSelectionData* data, guint info, guint time,
                                   CWinQORDlg* self);
};

}  // namespace winqor
