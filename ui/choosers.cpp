#include "ui/choosers.h"

#include "platform/text.h"
#include "ui/main_dialog_controller.h"

namespace winqor {
namespace {

// Runs a chooser modally; true with its file's path, as UTF-16, in path.
bool RunChooser(GtkWidget* chooser, std::u16string& path) {
    gtk_window_present(GTK_WINDOW(chooser));
    bool chosen = false;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        std::u16string converted;
        chosen = name != nullptr && Utf8ToUtf16(name, converted);
        if (chosen) path = converted;
        g_free(name);
    }
    gtk_widget_destroy(chooser);
    return chosen;
}

}  // namespace

bool ChooseArchiveFile(GtkWindow* owner, const std::u16string& initialFolder,
                       std::u16string& path) {
    GtkWidget* chooser =
        gtk_file_chooser_dialog_new("Open", owner, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, kArchiveFilterName);
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
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        Utf16ToUtf8Lossy(title).c_str(), owner, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
        GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    // The picker starts from the top of the user's own folders, whatever the field holds.
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), g_get_home_dir());
    return RunChooser(chooser, folder);
}

}  // namespace winqor
