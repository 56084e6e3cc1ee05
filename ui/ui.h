// What the user interface offers the rest of the program. Nothing here needs GTK's headers.
#pragma once

#include <string>

namespace winqor {

// Connects to the display once (later calls give the first answer); false when there is none.
// Every function below needs it to have returned true.
bool OpenDisplay();

// The password dialog for the archive g_currentHeader points at; true only when the right
// password was given, its digest then in g_passwordDigest. False when it was cancelled.
bool AskPassword();

// The licence a self-extracting program carries, in a window with a scrollable, read-only text
// and Accept and Decline; true only for Accept (Decline, Esc and the close box decline).
bool AskToAcceptLicence(const std::string& text);

// The main extraction window, until the user leaves it. It opens with the archive that
// archiveArgument names (a path or a file: URI) in its fields, when that is an existing
// file, as if it had been picked in the file dialog; empty fields otherwise or for null.
void RunMainDialog(const char* archiveArgument = nullptr);

// A text in a plain message window with an OK button, for a program that has no console to
// write it to (on Linux a program always has its standard streams: there it goes to standard
// error). Needs no OpenDisplay.
void ShowTextWindow(const std::string& text);

}  // namespace winqor
