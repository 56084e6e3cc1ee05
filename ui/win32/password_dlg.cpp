#include "ui/win32/password_dlg.h"

#include "protection/password.h"
#include "ui/ui.h"
#include "ui/win32/resource.h"

namespace winqor {

CPasswordDlg::CPasswordDlg(CDialog* parent) : CDialog(IDD_PASSWORD, parent) {}

void CPasswordDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, IDC_PASSWORD, m_password);
    DDV_MaxChars(dx, IDC_PASSWORD, kMaxPasswordChars);
}

void CPasswordDlg::OnOK() {
    UpdateData(true);
    if (CheckPassword()) {
        CDialog::OnOK();
        return;
    }
    GotoDlgCtrl(IDC_PASSWORD);
    UpdateData(false);
}

bool AskPassword() {
    CPasswordDlg dialog;
    return dialog.DoModal() == IDOK;
}

}  // namespace winqor
