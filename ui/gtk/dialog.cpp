#include "ui/gtk/dialog.h"

#include "base/text.h"

namespace winqor {
namespace {

constexpr char kResourcePrefix[] = "/org/winqor/ui/";

CDialog* g_mainWindow = nullptr;

GtkEntry* EntryOf(CDataExchange& dx, const char* controlId) {
    GtkWidget* widget = dx.dialog.GetDlgItem(controlId);
    return widget != nullptr && GTK_IS_ENTRY(widget) ? GTK_ENTRY(widget) : nullptr;
}

// A screen reader that does not follow a label's relation to its field hears the label's
// text as the field's name all the same.
void NameFieldsByTheirLabels(GtkBuilder* builder) {
    GSList* objects = gtk_builder_get_objects(builder);
    for (GSList* item = objects; item != nullptr; item = item->next) {
        if (!GTK_IS_LABEL(item->data)) continue;
        GtkLabel* label = GTK_LABEL(item->data);
        GtkWidget* field = gtk_label_get_mnemonic_widget(label);
        if (field != nullptr && GTK_IS_ENTRY(field))
            atk_object_set_name(gtk_widget_get_accessible(field), gtk_label_get_text(label));
    }
    g_slist_free(objects);
}

gboolean CloseToCancel(GtkWidget*, GdkEvent*, gpointer handler) {
    RunHandler(static_cast<std::function<void()>*>(handler));
    return TRUE;  // the dialog decides when its window goes
}

}  // namespace

void RunHandler(std::function<void()>* handler) {
    (*handler)();
}

void DDX_Text(CDataExchange& dx, const char* controlId, std::u16string& value) {
    GtkEntry* entry = EntryOf(dx, controlId);
    if (entry == nullptr) return;
    if (dx.saveAndValidate) {
        // GTK keeps entry texts in valid UTF-8, so the conversion cannot fail here.
        value.clear();
        Utf8ToUtf16(gtk_entry_get_text(entry), value);
    } else {
        gtk_entry_set_text(entry, Utf16ToUtf8Lossy(value).c_str());
    }
}

void DDV_MaxChars(CDataExchange& dx, const char* controlId, int maxChars) {
    GtkEntry* entry = EntryOf(dx, controlId);
    if (entry != nullptr && !dx.saveAndValidate) gtk_entry_set_max_length(entry, maxChars);
}

void SetApplicationIcons(GtkWindow* window) {
    GList* icons = nullptr;
    for (const char* name : {"icon-32.png", "icon-16.png"}) {
        const std::string path = std::string(kResourcePrefix) + name;
        GdkPixbuf* icon = gdk_pixbuf_new_from_resource(path.c_str(), nullptr);
        if (icon != nullptr) icons = g_list_append(icons, icon);
    }
    gtk_window_set_icon_list(window, icons);
    g_list_free_full(icons, g_object_unref);
}

CDialog::CDialog(const char* resource, const char* dialogId, CDialog* parent)
    : resource_(resource), dialogId_(dialogId), parent_(parent) {}

CDialog::~CDialog() {
    Destroy();
}

void CDialog::SetMainWindow(CDialog* dialog) {
    g_mainWindow = dialog;
}

int CDialog::DoModal() {
    if (!Create()) return -1;
    ConnectBaseMessageMap();
    ConnectMessageMap();
    OnInitDialog();
    // Without a window manager nothing else would give the new window the keyboard.
    gtk_window_present(window());
    loop_ = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
    Destroy();
    return result_;
}

bool CDialog::Create() {
    const std::string path = std::string(kResourcePrefix) + resource_;
    builder_ = gtk_builder_new_from_resource(path.c_str());
    GObject* dialog = gtk_builder_get_object(builder_, dialogId_);
    if (dialog == nullptr || !GTK_IS_DIALOG(dialog)) return false;
    window_ = GTK_WIDGET(dialog);
    CDialog* owner = parent_ != nullptr ? parent_ : g_mainWindow;
    if (owner != nullptr && owner != this && owner->window_ != nullptr) {
        gtk_window_set_transient_for(window(), owner->window());
        gtk_window_set_position(window(), GTK_WIN_POS_CENTER_ON_PARENT);
    }
    gtk_window_set_modal(window(), TRUE);
    NameFieldsByTheirLabels(builder_);
    return true;
}

void CDialog::Destroy() {
    if (window_ != nullptr) gtk_widget_destroy(window_);
    window_ = nullptr;
    if (builder_ != nullptr) g_object_unref(builder_);
    builder_ = nullptr;
}

void CDialog::ConnectBaseMessageMap() {
    if (GetDlgItem("IDOK") != nullptr) OnClicked("IDOK", [this] { OnOK(); });
    if (GetDlgItem("IDCANCEL") != nullptr) OnClicked("IDCANCEL", [this] { OnCancel(); });
    // Esc reaches here too: GtkDialog turns it into a close request.
    g_signal_connect(window_, "delete-event", G_CALLBACK(CloseToCancel),
                     KeepHandler([this] { OnCancel(); }));
}

GtkWidget* CDialog::GetDlgItem(const char* id) const {
    if (builder_ == nullptr) return nullptr;
    GObject* object = gtk_builder_get_object(builder_, id);
    return object != nullptr && GTK_IS_WIDGET(object) ? GTK_WIDGET(object) : nullptr;
}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return true;
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    UpdateData(true);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result) {
    result_ = result;
    if (loop_ != nullptr) g_main_loop_quit(loop_);
}

void CDialog::GotoDlgCtrl(const char* id) {
    GtkWidget* widget = GetDlgItem(id);
    if (widget != nullptr) gtk_widget_grab_focus(widget);
}

void CDialog::OnClicked(const char* buttonId, std::function<void()> handler) {
    GtkWidget* button = GetDlgItem(buttonId);
    if (button == nullptr) return;
    g_signal_connect_swapped(button, "clicked", G_CALLBACK(RunHandler),
                             KeepHandler(std::move(handler)));
}

void CDialog::SetTabOrder(const char* containerId, std::initializer_list<const char*> ids) {
    GList* chain = nullptr;
    for (const char* id : ids) chain = g_list_append(chain, GetDlgItem(id));
    // Deprecated in favour of focus handlers, but still the one way to state an order that
    // differs from the layout's.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(GetDlgItem(containerId)), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
}

std::function<void()>* CDialog::KeepHandler(std::function<void()> handler) {
    handlers_.push_back(std::make_unique<std::function<void()>>(std::move(handler)));
    return handlers_.back().get();
}

}  // namespace winqor
