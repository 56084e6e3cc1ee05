// The licence a self-extracting program carries, to be accepted before it unpacks anything.
#include <gtk/gtk.h>

#include <string>

#include "ui/gtk/dialog.h"
#include "ui/ui.h"

namespace winqor {
namespace {

class CLicenceDlg : public CDialog {
  public:
    explicit CLicenceDlg(const std::string& text)
        : CDialog("licence_dialog.ui", "IDD_LICENCE"), text_(text) {}

  protected:
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        GtkTextBuffer* buffer =
            gtk_text_view_get_buffer(GTK_TEXT_VIEW(GetDlgItem("IDC_LICENCE_TEXT")));
        gtk_text_buffer_set_text(buffer, text_.data(), static_cast<gint>(text_.size()));
        // The text holds the focus first, so that the keys scroll it.
        GotoDlgCtrl("IDC_LICENCE_TEXT");
        return true;
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
