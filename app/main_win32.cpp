// The Windows program's start: the application object does all the work with the arguments,
// taken as UTF-8; "/?" asks for help, as Windows programs do.
#include <string>
#include <vector>

#include "app/winqor_app.h"
#include "platform/process.h"
#include "base/text.h"

int wmain(int argc, wchar_t** argv) {
    winqor::RestrictLibrarySearch();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        // wchar_t is UTF-16 on Windows; a lone surrogate (no valid name has one) shows as U+FFFD.
        const std::u16string_view wide(reinterpret_cast<const char16_t*>(argv[i]));
        arguments.push_back(winqor::Utf16ToUtf8Lossy(wide));
    }
    winqor::theApp.InitInstance(arguments, /*slashHelp=*/true);
    return winqor::theApp.ExitCode();
}
