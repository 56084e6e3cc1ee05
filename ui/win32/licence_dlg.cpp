// The licence a self-extracting program carries, to be accepted before it unpacks anything.
#include <windows.h>

#include <string>

#include "base/text.h"
#include "ui/ui.h"
#include "ui/win32/dialog.h"
#include "ui/win32/resource.h"

namespace winqor {
namespace {

// An edit control breaks lines at CR LF only; a form feed starts a line too.
std::string WithWindowsLineEnds(const std::string& text) {
    std::string shown;
    shown.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n' || c == '\f') {
            shown += "\r\n";
        } else if (c != '\r') {
            shown += c;
        }
    }
    return shown;
}

class CLicenceDlg : public CDialog {
  public:
    explicit CLicenceDlg(const std::string& text) : CDialog(IDD_LICENCE), text_(text) {}

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        std::u16string wide;
        Utf8ToUtf16(WithWindowsLineEnds(text_), wide);
        ::SetDlgItemTextW(GetSafeHwnd(), IDC_LICENCE_TEXT, ToWide(wide).c_str());
        // Enter presses Decline, not the dialog manager's usual IDOK.
        ::SendMessageW(GetSafeHwnd(), DM_SETDEFID, IDCANCEL, 0);
        GotoDlgCtrl(IDC_LICENCE_TEXT);
        // The text is to be read, not shown selected.
        ::SendDlgItemMessageW(GetSafeHwnd(), IDC_LICENCE_TEXT, EM_SETSEL, 0, 0);
        return FALSE;
    }

  private:
    const std::string& text_;
};

}  // namespace

bool AskToAcceptLicence(const std::string& text) {
    CLicenceDlg dialog(text);
    return dialog.DoModal() == IDOK;
}

}  // namespace winqor
