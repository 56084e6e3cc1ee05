// The password prompt of an encrypted archive: it closes with IDOK only for the right password.
#pragma once

#include "ui/gtk/dialog.h"
#include "ui/password_controller.h"

namespace winqor {

class CPasswordDlg : public CDialog, public PasswordController {
  public:
    explicit CPasswordDlg(CDialog* parent = nullptr);

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnOK() override;
};

}  // namespace winqor
