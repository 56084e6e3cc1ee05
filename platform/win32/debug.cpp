#include "platform/win32/support.h"

#include <string>
#include <string_view>

namespace winqor {

using namespace win32;
namespace {

// The messages are UTF-8 made from UTF-16; a forwarded text that is not keeps its ASCII and
// shows U+FFFD for every other byte.
std::wstring WideMessage(std::string_view text) {
    std::u16string utf16;
    if (!Utf8ToUtf16(text, utf16)) utf16 = WidenAscii(text);
    return WideString(utf16);
}

}  // namespace

// The debug channel's default sink on Windows: the debugger's output channel, one call per
// message.
void WriteToDefaultDebugSink(std::string_view text) {
    const std::wstring wide = WideMessage(text);
    ::OutputDebugStringW(wide.c_str());
}

// A console shows UTF-16 as it is; a file or pipe gets the UTF-8 bytes, in one write.
void WriteToStandardError(std::string_view text) {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (::GetConsoleMode(error, &mode)) {
        const std::wstring wide = WideMessage(text);
        DWORD written = 0;
        ::WriteConsoleW(error, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    WriteFully(error, text.data(), text.size());
}

}  // namespace winqor
