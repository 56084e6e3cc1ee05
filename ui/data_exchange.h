// The direction of one UpdateData, the same on both systems: a dialog's DoDataExchange moves
// each field from its control into its member (save) or back, through the system's DDX_ and DDV_
// functions.
#pragma once

namespace winqor {

// The system's dialog base: ui/gtk/dialog.h or ui/win32/dialog.h.
class CDialog;

class CDataExchange {
  public:
    CDataExchange(CDialog& owner, bool save) : dialog(owner), saveAndValidate(save) {}
    CDialog& dialog;
    const bool saveAndValidate;
};

}  // namespace winqor
