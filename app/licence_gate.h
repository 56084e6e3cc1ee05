// The licence a self-extracting program may carry: found among its resources and shown, in a
// window or on a terminal, before the run unpacks anything; the run goes on only once it was
// accepted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/resources.h"
#include "platform/terminal.h"

namespace winqor {

enum class LicenceLookup {
    kFound,
    kNone,
    kUnusable,  // the entry is there but cannot be read or shown (reason says why)
};

// The licence that module (null: the running program) carries, as UTF-8 text.
LicenceLookup FindLicence(ResourceFile* module, std::string& text, std::string& reason);

// The ways a licence can be shown and accepted; each answers true for Accept.
struct LicenceRoutes {
    std::function<bool()> openDisplay;  // true when a window can be shown
    std::function<bool(const std::string& text)> dialog;
    std::function<bool()> haveTerminal;  // true when standard input is a terminal
    std::function<bool(const std::string& text)> terminal;
};

enum class LicenceAnswer { kAccepted, kDeclined, kNoWayToAsk };

// The window when a display can be opened, else the terminal when there is one, else none.
LicenceAnswer AskToAcceptLicence(const std::string& text, const LicenceRoutes& routes);

// How a licence is paged on a terminal (the real terminal, or a test's).
struct TerminalPager {
    TerminalSize size;
    std::function<void(std::string_view text)> write;
    std::function<bool(const char* prompt, char& key)> readKey;
};

// Shows text a screenful at a time when it is longer than the screen (any key but y and n
// shows the next), then asks; y accepts, n, Ctrl+D or the end of input declines.
bool AcceptLicenceOnTerminal(const std::string& text, const TerminalPager& pager);
bool AcceptLicenceOnTerminal(const std::string& text);

// What a self-extracting run asks before it writes: true when the running program carries no
// licence, when it was accepted beforehand (--accept) or when it was accepted now. quiet: no
// asking, so an unaccepted licence ends the run. false, with why set, otherwise. A program
// whose archive is not usable (it opens its window) asks nothing.
bool LicenceAllowsRun(const LicenceRoutes& routes, bool acceptedBeforehand, bool quiet,
                      std::string& why);

}  // namespace winqor
