// The About box: the application icon, the product and its version, the copyright.
#pragma once

#include "ui/win32/dialog.h"
#include "ui/win32/resource.h"

namespace winqor {

class CAboutDlg : public CDialog {
  public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
};

}  // namespace winqor
