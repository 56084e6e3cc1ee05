// A small dialog framework over GTK 3: a dialog is a GtkDialog built from a GtkBuilder resource,
// run modally with DoModal, its fields exchanged with its members through DoDataExchange.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "ui/data_exchange.h"
#include "ui/gtk/resource.h"

namespace winqor {

// Exchanges the text of the entry with this id and value.
void DDX_Text(CDataExchange& dx, const char* controlId, std::u16string& value);
// Limits the entry with this id to maxChars characters, so a longer text cannot be typed or
// pasted.
void DDV_MaxChars(CDataExchange& dx, const char* controlId, int maxChars);

class CDialog {
  public:
    // resource: the path of the .ui file in the compiled-in bundle; dialogId: the dialog's id
    // in it. Without a parent the application's main window, if any, owns the dialog.
    CDialog(const char* resource, const char* dialogId, CDialog* parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Shows the dialog and runs until EndDialog: IDOK, IDCANCEL, or -1 when the dialog cannot
    // be built.
    int DoModal();
    // saveAndValidate: controls to members; otherwise members to controls. Always true: no
    // exchange here can fail.
    bool UpdateData(bool saveAndValidate = true);

    GtkWidget* GetDlgItem(const char* id) const;
    GtkWindow* window() const { return GTK_WINDOW(window_); }

    // The window that owns dialogs opened without a parent: the application's main dialog.
    static void SetMainWindow(CDialog* dialog);

  protected:
    virtual void DoDataExchange(CDataExchange&) {}
    // Runs once the controls exist and hold the members; the base transfers the members.
    virtual bool OnInitDialog();
    // The default button (IDOK) and Enter: exchanges the data and ends with IDOK.
    virtual void OnOK();
    // The IDCANCEL button, Esc and the close box: ends with IDCANCEL.
    virtual void OnCancel();
    // The dialog's own signal connections (its message map); the base has connected IDOK,
    // IDCANCEL and the close box before.
    virtual void ConnectMessageMap() {}

    void EndDialog(int result);
    // Moves the keyboard focus to the widget with this id.
    void GotoDlgCtrl(const char* id);
    // Calls handler when the button with this id is clicked.
    void OnClicked(const char* buttonId, std::function<void()> handler);
    // Makes the keyboard's tab order inside the container: the widgets with these ids, in turn.
    void SetTabOrder(const char* containerId, std::initializer_list<const char*> ids);
    // Keeps handler alive as long as the dialog, for a signal's user data.
    std::function<void()>* KeepHandler(std::function<void()> handler);

  private:
    bool Create();
    void ConnectBaseMessageMap();
    void Destroy();

    const char* resource_;
    const char* dialogId_;
    CDialog* parent_;
    GtkBuilder* builder_ = nullptr;
    GtkWidget* window_ = nullptr;
    GMainLoop* loop_ = nullptr;
    int result_ = IDCANCEL;
    std::vector<std::unique_ptr<std::function<void()>>> handlers_;
};

// Runs the handler a signal was connected with (its user data).
void RunHandler(std::function<void()>* handler);

// Sets the application icons (the bundle's 32x32 and 16x16 images) on a window.
void SetApplicationIcons(GtkWindow* window);

}  // namespace winqor
