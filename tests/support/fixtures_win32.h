// What the Windows tests need of the system beyond the standard library and test_support.h:
// links, attributes, the debugger's output channel. The one test file that includes the
// system's headers is fixtures_win32.cpp, which also removes test_support.h's temporary
// folders and sets its environment variables the system's way.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace winqor::test {

namespace fs = std::filesystem;

void SetReadOnly(const fs::path& path, bool readOnly);
bool IsReadOnly(const fs::path& path);
bool IsReparsePoint(const fs::path& path);

// The names in a folder, sorted.
std::vector<std::string> Names(const fs::path& folder);

enum class LinkMade {
    kNone,    // this system makes no link here
    kSystem,  // a symbolic link or a junction: a reparse point that a handle can open itself
    kHost,    // under Wine, a symbolic link of the host: Wine shows one that leads to a folder
              // as a reparse point (one to a file as a plain file), but opens its target even
              // when asked for the link itself
};

// Makes link a link to target (a folder when folder): a symbolic link or a junction where the
// system makes them, else under Wine (whose calls for them make nothing) one of the host.
// kNone, with why, when none can be made.
LinkMade MakeLink(const fs::path& link, const fs::path& target, bool folder, std::string& why);

// One text that OutputDebugStringW sent: as UTF-16 where the system passes it so (Windows 10
// on), else in the system's ANSI code page, each byte widened.
struct DebugOutput {
    std::u16string text;
    bool wide = false;
};

// text as a debugger sees it when the system passes it on in its ANSI code page only: the
// system's own conversion, each byte widened.
std::u16string AnsiForm(const std::u16string& text);

// Collects what OutputDebugStringW sends while the object lives, in this process, as a
// debugger would see it.
class DebugOutputCapture {
  public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;
    std::vector<DebugOutput> Texts() const;

  private:
    void* handler_;
};

}  // namespace winqor::test
