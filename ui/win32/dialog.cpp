#include "ui/win32/dialog.h"

namespace winqor {
namespace {

CDialog* g_mainWindow = nullptr;

}  // namespace

std::wstring ToWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

void DDX_Text(CDataExchange& dx, int controlId, std::u16string& value) {
    const HWND dialog = dx.dialog.GetSafeHwnd();
    const HWND control = dx.dialog.GetDlgItem(controlId);
    if (control == nullptr) return;
    if (!dx.saveAndValidate) {
        SetDlgItemTextW(dialog, controlId, ToWide(value).c_str());
        return;
    }
    std::wstring text(GetWindowTextLengthW(control) + 1, L'\0');
    text.resize(GetDlgItemTextW(dialog, controlId, text.data(), static_cast<int>(text.size())));
    value = FromWide(text);
}

void DDV_MaxChars(CDataExchange& dx, int controlId, int maxChars) {
    // The edit refuses what would pass the limit, so there is nothing left to check on save.
    if (dx.saveAndValidate) return;
    SendDlgItemMessageW(dx.dialog.GetSafeHwnd(), controlId, EM_LIMITTEXT, maxChars, 0);
}

void CDialog::SetMainWindow(CDialog* dialog) {
    g_mainWindow = dialog;
}

HWND CDialog::MainWindowHandle() {
    return g_mainWindow != nullptr ? g_mainWindow->window_ : nullptr;
}

INT_PTR CDialog::DoModal() {
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_),
                                           Owner(), DialogProc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return true;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(true);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::GotoDlgCtrl(int id) {
    const HWND control = GetDlgItem(id);
    if (control != nullptr) {
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    }
}

// The dialog object travels with WM_INITDIALOG and is kept in the window from then on; the
// few messages before it get the dialog manager's default processing.
INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CDialog*>(lParam)->window_ = window;
    }
    auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

// The dialog's own map first, then the base's: initialisation, OK and Cancel. FALSE leaves a
// message to the dialog manager.
INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = TRUE;
    if (OnMessage(message, wParam, lParam, result)) return result;
    if (message == WM_INITDIALOG) return OnInitDialog();
    if (message == WM_COMMAND) return OnCommand(wParam);
    return FALSE;
}

// The dialog manager sends IDOK for Enter and IDCANCEL for Esc and the close box.
bool CDialog::OnCommand(WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) return false;
    if (LOWORD(wParam) == IDOK) {
        OnOK();
        return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

HWND CDialog::Owner() const {
    if (parent_ != nullptr) return parent_->window_;
    return g_mainWindow != this ? MainWindowHandle() : nullptr;
}

}  // namespace winqor
