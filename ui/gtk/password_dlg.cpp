#include "ui/gtk/password_dlg.h"

#include "protection/password.h"
#include "ui/ui.h"

namespace winqor {

CPasswordDlg::CPasswordDlg(CDialog* parent)
    : CDialog("password_dialog.ui", "IDD_PASSWORD", parent) {}

void CPasswordDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, "IDC_PASSWORD", m_password);
    DDV_MaxChars(dx, "IDC_PASSWORD", kMaxPasswordChars);
}

bool CPasswordDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The buttons come first in the tab order, so OK holds the focus when the dialog opens.
    SetTabOrder("IDC_LAYOUT", {"IDC_BUTTONS", "IDC_PASSWORD"});
    GotoDlgCtrl("IDOK");
    return true;
}

void CPasswordDlg::OnOK() {
    UpdateData(true);
    if (CheckPassword()) {
        CDialog::OnOK();
        return;
    }
    GotoDlgCtrl("IDC_PASSWORD");
    UpdateData(false);
}

bool AskPassword() {
    CPasswordDlg dialog;
    return dialog.DoModal() == IDOK;
}

}  // namespace winqor
