// A small dialog framework over the system's dialog manager: a dialog is a template in the
// program's resources, run modally with DoModal (DialogBoxParamW), its controls exchanged with
// its members through DoDataExchange.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/data_exchange.h"

namespace winqor {

// Exchanges the text of the control with this id and value.
void DDX_Text(CDataExchange& dx, int controlId, std::u16string& value);
// Limits the edit control with this id to maxChars characters, so a longer text cannot be
// typed or pasted.
void DDV_MaxChars(CDataExchange& dx, int controlId, int maxChars);

// The system's wide strings and the core's UTF-16 strings hold the same units.
std::wstring ToWide(std::u16string_view text);
std::u16string FromWide(std::wstring_view text);

class CDialog {
  public:
    // templateId: the dialog template in the program's resources. Without a parent the
    // application's main window, if any, owns the dialog.
    explicit CDialog(int templateId, CDialog* parent = nullptr)
        : templateId_(templateId), parent_(parent) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Shows the dialog and runs until EndDialog: IDOK, IDCANCEL, or -1 when the dialog cannot
    // be created.
    INT_PTR DoModal();
    // saveAndValidate: controls to members; otherwise members to controls. Always true: no
    // exchange here can fail.
    bool UpdateData(bool saveAndValidate = true);

    HWND GetSafeHwnd() const { return window_; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(window_, id); }

    // The window that owns dialogs opened without a parent: the application's main dialog.
    static void SetMainWindow(CDialog* dialog);
    // The window a dialog, a file dialog or a folder picker opened without a parent belongs
    // to; null when there is none.
    static HWND MainWindowHandle();

  protected:
    virtual void DoDataExchange(CDataExchange&) {}
    // Runs once the controls exist; the base transfers the members into them. True leaves the
    // focus to the dialog manager (the first tab stop).
    virtual BOOL OnInitDialog();
    // The default button (IDOK) and Enter: exchanges the data and ends with IDOK.
    virtual void OnOK();
    // The IDCANCEL button, Esc and the close box: ends with IDCANCEL.
    virtual void OnCancel();
    // The dialog's own message map, asked before the base's: true when the message was
    // handled, with what the dialog procedure returns for it in result.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

    void EndDialog(int result) { ::EndDialog(window_, result); }
    // Moves the keyboard focus to a control the way the dialog manager does.
    void GotoDlgCtrl(int id);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnCommand(WPARAM wParam);
    HWND Owner() const;

    int templateId_;
    CDialog* parent_;
    HWND window_ = nullptr;
};

}  // namespace winqor
