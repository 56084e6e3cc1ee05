// The Windows program's start. Of the command line only the first argument is looked at, and
// only by the extraction window.
#include <string>
#include <string_view>

#include "app/winqor_app.h"
#include "platform/process.h"
#include "platform/text.h"

int wmain(int argc, wchar_t** argv) {
    winqor::RestrictLibrarySearch();
    // wchar_t is UTF-16 on Windows.
    std::string argument;
    const bool named = argc > 1 && winqor::Utf16ToUtf8(
                                       reinterpret_cast<const char16_t*>(argv[1]), argument);
    winqor::theApp.InitInstance(named ? argument.c_str() : nullptr);
    return winqor::theApp.ExitCode();
}
