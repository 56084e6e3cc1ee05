#include "ui/gtk/winqor_dlg.h"

#include "ui/gtk/about_dlg.h"
#include "ui/gtk/choosers.h"
#include "ui/local_path.h"
#include "ui/ui.h"

namespace winqor {
namespace {

// Alt+Space and Shift+F10 (and the Menu key) open the window menu from the keyboard.
bool IsWindowMenuKey(const GdkEventKey* event) {
    const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    return (event->keyval == GDK_KEY_space && modifiers == GDK_MOD1_MASK) ||
           (event->keyval == GDK_KEY_F10 && modifiers == GDK_SHIFT_MASK) ||
           (event->keyval == GDK_KEY_Menu && modifiers == 0);
}

// The drop target's info for a file manager's list of files (text is 0).
constexpr guint kUriListInfo = 1;

// A list of files comes first, so that a file manager's drop (which offers its files as text
// too) is taken as a file; a widget that takes text keeps taking it.
void SetDropTargets(GtkWidget* widget, bool text) {
    GtkTargetList* targets = gtk_target_list_new(nullptr, 0);
    gtk_target_list_add_uri_targets(targets, kUriListInfo);
    if (text) gtk_target_list_add_text_targets(targets, 0);
    gtk_drag_dest_set_target_list(widget, targets);
    gtk_target_list_unref(targets);
}

// Asks the source for the dropped list; what arrives goes to OnDragDataReceived.
gboolean RequestDroppedData(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time,
                            gpointer) {
    const GdkAtom target = gtk_drag_dest_find_target(widget, context, nullptr);
    if (target == GDK_NONE) return FALSE;
    gtk_drag_get_data(widget, context, target, time);
    return TRUE;
}

}  // namespace

CWinQORDlg::CWinQORDlg(CDialog* parent) : CDialog("main_dialog.ui", "IDD_MAIN_DIALOG", parent) {}

void CWinQORDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, "IDC_DESTINATION", m_destinationFolder);
    DDX_Text(dx, "IDC_ARCHIVE_PATH", m_archivePath);
}

bool CWinQORDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    gtk_menu_attach_to_widget(GTK_MENU(GetDlgItem("IDR_WINDOW_MENU")), GTK_WIDGET(window()),
                              nullptr);
    SetApplicationIcons(window());
    // On screen the archive row comes first; the keyboard starts at Extract nevertheless.
    SetTabOrder("IDC_LAYOUT", {"IDC_BUTTONS", "IDC_DESTINATION", "IDC_BROWSE_FOLDER",
                               "IDC_ARCHIVE_PATH", "IDC_BROWSE_ARCHIVE"});
    GotoDlgCtrl("IDOK");
    AcceptFileDrops();
    return true;
}

// Anywhere on the window, the two fields included, a dropped file is taken as the archive.
void CWinQORDlg::AcceptFileDrops() {
    GtkWidget* whole = GTK_WIDGET(window());
    // The drop itself is handled here, as the fields do, so that a refused file is reported
    // refused to the file manager.
    gtk_drag_dest_set(
        whole, static_cast<GtkDestDefaults>(GTK_DEST_DEFAULT_MOTION | GTK_DEST_DEFAULT_HIGHLIGHT),
        nullptr, 0, GDK_ACTION_COPY);
    SetDropTargets(whole, /*text=*/false);
    g_signal_connect(whole, "drag-drop", G_CALLBACK(RequestDroppedData), nullptr);
    for (const char* field : {"IDC_ARCHIVE_PATH", "IDC_DESTINATION"}) {
        SetDropTargets(GetDlgItem(field), /*text=*/true);
        g_signal_connect(GetDlgItem(field), "drag-data-received", G_CALLBACK(OnDragDataReceived),
                         this);
    }
    g_signal_connect(whole, "drag-data-received", G_CALLBACK(OnDragDataReceived), this);
}

// The message map: the browse buttons, the window menu and the two ways to open it.
void CWinQORDlg::ConnectMessageMap() {
    OnClicked("IDC_BROWSE_FOLDER", [this] { OnBrowseFolder(); });
    OnClicked("IDC_BROWSE_ARCHIVE", [this] { OnBrowseArchive(); });
    OnMenuItem("SC_CLOSE", SC_CLOSE);
    OnMenuItem("IDM_ABOUTBOX", IDM_ABOUTBOX);
    g_signal_connect(window(), "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(window(), "key-press-event", G_CALLBACK(OnKeyPress), this);
}

void CWinQORDlg::OnOK() {
    UpdateData(true);
    Extract();
}

void CWinQORDlg::OnBrowseArchive() {
    UpdateData(true);
    if (BrowseArchive()) UpdateData(false);
}

bool CWinQORDlg::OnDropFiles(const char* uri) {
    UpdateData(true);
    std::u16string path;
    if (!LocalPathFromUri(uri, path) || !OpenArchive(path)) return false;
    UpdateData(false);
    return true;
}

void CWinQORDlg::OnBrowseFolder() {
    UpdateData(true);
    if (BrowseFolder()) UpdateData(false);
}

bool CWinQORDlg::RunPasswordDialog() {
    return AskPassword();
}

bool CWinQORDlg::ChooseArchiveFile(const std::u16string& initialFolder, std::u16string& path) {
    return winqor::ChooseArchiveFile(window(), initialFolder, path);
}

bool CWinQORDlg::ChooseFolder(const char16_t* title, std::u16string& folder) {
    return BrowseForFolder(window(), title, folder);
}

void CWinQORDlg::OnSysCommand(unsigned commandId) {
    if (OpensAboutBox(commandId)) {
        CAboutDlg about;
        about.DoModal();
    } else if (commandId == SC_CLOSE) {
        OnCancel();
    }
}

void CWinQORDlg::OnMenuItem(const char* itemId, unsigned commandId) {
    GtkWidget* item = GetDlgItem(itemId);
    if (item == nullptr) return;
    g_signal_connect_swapped(item, "activate", G_CALLBACK(RunHandler),
                             KeepHandler([this, commandId] { OnSysCommand(commandId); }));
}

void CWinQORDlg::PopUpWindowMenu(const GdkEvent* trigger) {
    GtkMenu* menu = GTK_MENU(GetDlgItem("IDR_WINDOW_MENU"));
    if (trigger != nullptr && trigger->type == GDK_BUTTON_PRESS) {
        gtk_menu_popup_at_pointer(menu, trigger);
        return;
    }
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(window()));
    gtk_menu_popup_at_widget(menu, area, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST, trigger);
    gtk_menu_shell_select_first(GTK_MENU_SHELL(menu), FALSE);
}

gboolean CWinQORDlg::OnButtonPress(GtkWidget*, GdkEventButton* event, CWinQORDlg* self) {
    if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_SECONDARY) return FALSE;
    self->PopUpWindowMenu(reinterpret_cast<const GdkEvent*>(event));
    return TRUE;
}

gboolean CWinQORDlg::OnKeyPress(GtkWidget*, GdkEventKey* event, CWinQORDlg* self) {
    if (!IsWindowMenuKey(event)) return FALSE;
    self->PopUpWindowMenu(reinterpret_cast<const GdkEvent*>(event));
    return TRUE;
}

void CWinQORDlg::OnDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint, gint,
                                    GtkSelectionData* data, guint info, guint time,
                                    CWinQORDlg* self) {
    if (info != kUriListInfo) return;  // text dropped into a field: the field inserts it
    // A field would insert the list as text and finish the drop itself.
    g_signal_stop_emission_by_name(widget, "drag-data-received");
    gchar** uris = gtk_selection_data_get_uris(data);
    // Of several files, the first counts.
    const bool taken = uris != nullptr && self->OnDropFiles(uris[0]);
    g_strfreev(uris);
    gtk_drag_finish(context, taken, FALSE, time);
}

}  // namespace winqor
