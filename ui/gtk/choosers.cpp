#include "ui/gtk/choosers.h"

#include "base/text.h"
#include "ui/gtk/translation.h"
#include "ui/main_dialog_controller.h"

namespace winqor {
namespace {

// The window's logic hands over these two texts in English; the catalogue keys them so.
[[maybe_unused]] constexpr const char* kTranslatedTexts[] = {
    TrNoop("Select a folder to extract:"),
    TrNoop("Executables (*.aze)"),
};

// Runs a chooser modally; true with its file's path, as UTF-16, in path. A native chooser:
// where a desktop portal serves them (a sandboxed winqor), the portal's chooser, which can
// reach the user's files; elsewhere GTK's own dialog.
bool RunChooser(GtkFileChooserNative* chooser, std::u16string& path) {
    bool chosen = false;
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        std::u16string converted;
        chosen = name != nullptr && Utf8ToUtf16(name, converted);
        if (chosen) path = converted;
        g_free(name);
    }
    g_object_unref(chooser);
    return chosen;
}

}  // namespace

bool ChooseArchiveFile(GtkWindow* owner, const std::u16string& initialFolder,
                       std::u16string& path) {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        Tr("Open"), owner, GTK_FILE_CHOOSER_ACTION_OPEN, Tr("_Open"), Tr("_Cancel"));
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, Tr(kArchiveFilterName));
    gtk_file_filter_add_pattern(filter, kArchiveFilterPattern);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    if (!initialFolder.empty()) {
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser),
                                            Utf16ToUtf8Lossy(initialFolder).c_str());
    }
    return RunChooser(chooser, path);
}

bool BrowseForFolder(GtkWindow* owner, const char16_t* title, std::u16string& folder) {
    if (owner == nullptr || title == nullptr) return false;
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        Tr(Utf16ToUtf8Lossy(title).c_str()), owner, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
        Tr("_Select"), Tr("_Cancel"));
    // The picker starts from the top of the user's own folders, whatever the field holds.
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), g_get_home_dir());
    return RunChooser(chooser, folder);
}

}  // namespace winqor
