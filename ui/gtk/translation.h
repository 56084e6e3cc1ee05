// The windows' texts in the user's language. The English texts are the catalogue's keys, so a
// text without a translation, or a user without a catalogue, shows the English one.
#pragma once

#include <glib.h>

namespace winqor {

// The catalogue's name: share/locale/LANG/LC_MESSAGES/winqor.mo; the .ui files name it too.
inline constexpr char kTextDomain[] = "winqor";

// english in the user's language. The template's extraction looks for Tr("...").
inline const char* Tr(const char* english) {
    return g_dgettext(kTextDomain, english);
}

// Marks a text that reaches Tr through a variable, so the template holds it all the same.
constexpr const char* TrNoop(const char* english) {
    return english;
}

// Points the catalogue at share/locale beside the program's own folder (the build's as the
// installed one). GTK has chosen the user's locale by then.
void BindTranslations();

}  // namespace winqor
