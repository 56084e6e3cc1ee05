// The About box: the application icon, the product and its version, the copyright.
#pragma once

#include "ui/gtk/dialog.h"

namespace winqor {

class CAboutDlg : public CDialog {
  public:
    CAboutDlg() : CDialog("about_dialog.ui", "IDD_ABOUTBOX") {}
};

}  // namespace winqor
