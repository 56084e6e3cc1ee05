// The password prompt of an encrypted archive: it closes with IDOK only for the right password.
#pragma once

#include "ui/password_controller.h"
#include "ui/win32/dialog.h"

namespace winqor {

class CPasswordDlg : public CDialog, public PasswordController {
  public:
    explicit CPasswordDlg(CDialog* parent = nullptr);

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    // The check; a refused password leaves the dialog open with the field empty and focused.
    void OnOK() override;
};

}  // namespace winqor
