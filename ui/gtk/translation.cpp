#include "ui/gtk/translation.h"

#include <libintl.h>

#include <string>

#include "base/limits.h"
#include "base/text.h"
#include "platform/process.h"

namespace winqor {

void BindTranslations() {
    char16_t program[kMaxPath];
    if (GetModuleFileName(program, kMaxPath) == 0) return;  // English, then
    gchar* folder = g_path_get_dirname(Utf16ToUtf8Lossy(program).c_str());
    // The catalogues' folder seen from the programs' one, as installed: ../share/locale.
    gchar* locales = g_build_filename(folder, WINQOR_LOCALE_FROM_BINDIR, nullptr);
    bindtextdomain(kTextDomain, locales);
    // GTK takes UTF-8 whatever the locale's own character set.
    bind_textdomain_codeset(kTextDomain, "UTF-8");
    g_free(locales);
    g_free(folder);
}

}  // namespace winqor
