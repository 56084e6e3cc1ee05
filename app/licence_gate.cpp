#include "app/licence_gate.h"

#include <span>
#include <vector>

#include "format/archive_header.h"
#include "image/licence_resource.h"
#include "platform/debug.h"

namespace winqor {
namespace {

constexpr char kMorePrompt[] = "-- more: any key for the next page, y accepts, n declines --";
constexpr char kAcceptPrompt[] = "Do you accept this licence? (y: accept, n: decline) ";

bool IsYes(char key) {
    return key == 'y' || key == 'Y';
}
// Ctrl+D, which a terminal read key by key passes on as a key, ends the input: no answer.
constexpr char kEndOfInput = '\x04';

bool IsNo(char key) {
    return key == 'n' || key == 'N' || key == kEndOfInput;
}

// The lines as a terminal shows them: without carriage returns, a form feed as a line break.
std::vector<std::string> ShownLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (const char c : text) {
        if (c == '\n' || c == '\f') {
            lines.emplace_back();
        } else if (c != '\r') {
            lines.back() += c;
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

// The rows a line takes on a screen columns wide, a character for each code point.
uint32_t RowsOf(const std::string& line, uint32_t columns) {
    uint64_t characters = 0;
    for (const char c : line) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (columns == 0 || characters == 0) return 1;
    return static_cast<uint32_t>((characters + columns - 1) / columns);
}

// The archive entry the run would unpack: only a program that self-extracts asks anything.
bool CarriesUsableArchive() {
    const ResourceHandle found = FindResource(nullptr, kSetupArchiveType, kSetupArchiveId);
    const uint8_t* bytes = found == nullptr ? nullptr : LockResource(LoadResource(nullptr, found));
    return bytes != nullptr && SizeofResource(found) >= kHeaderBytes &&
           HasMagic(*HeaderAt(bytes)) && IsEmbedded(*HeaderAt(bytes));
}

}  // namespace

LicenceLookup FindLicence(ResourceFile* module, std::string& text, std::string& reason) {
    const ResourceHandle found = FindResource(module, kSetupLicenceType, kSetupLicenceId);
    if (found == nullptr) return LicenceLookup::kNone;
    const uint8_t* bytes = LockResource(LoadResource(module, found));
    if (bytes == nullptr) {
        reason = "the licence cannot be read";
        return LicenceLookup::kUnusable;
    }
    const uint64_t size = SizeofResource(found);
    // Checked before the span is made: the entry's size is the file's word, not ours.
    if (size > kMaxLicenceBytes) {
        reason = "the licence is larger than the largest a program may carry";
        return LicenceLookup::kUnusable;
    }
    const std::span<const uint8_t> licence(bytes, static_cast<size_t>(size));
    if (!CheckLicenceText(licence, reason)) return LicenceLookup::kUnusable;
    text.assign(reinterpret_cast<const char*>(licence.data()), licence.size());
    return LicenceLookup::kFound;
}

LicenceAnswer AskToAcceptLicence(const std::string& text, const LicenceRoutes& routes) {
    const auto answer = [](bool accepted) {
        return accepted ? LicenceAnswer::kAccepted : LicenceAnswer::kDeclined;
    };
    if (routes.openDisplay && routes.openDisplay()) {
        return answer(routes.dialog && routes.dialog(text));
    }
    if (routes.haveTerminal && routes.haveTerminal()) {
        return answer(routes.terminal && routes.terminal(text));
    }
    return LicenceAnswer::kNoWayToAsk;
}

bool AcceptLicenceOnTerminal(const std::string& text, const TerminalPager& pager) {
    // A row is kept for the prompt, so that no line scrolls away unseen.
    const uint32_t page = pager.size.rows > 1 ? pager.size.rows - 1 : 0;
    uint32_t shown = 0;
    char key = 0;
    for (const std::string& line : ShownLines(text)) {
        const uint32_t rows = RowsOf(line, pager.size.columns);
        if (page != 0 && shown > 0 && shown + rows > page) {
            if (!pager.readKey(kMorePrompt, key) || IsNo(key)) return false;
            if (IsYes(key)) return true;
            shown = 0;
        }
        pager.write(line + "\n");
        shown += rows;
    }
    while (pager.readKey(kAcceptPrompt, key)) {
        if (IsYes(key) || IsNo(key)) return IsYes(key);
    }
    return false;
}

bool AcceptLicenceOnTerminal(const std::string& text) {
    const TerminalPager pager{
        SizeOfTerminal(),
        [](std::string_view shown) { WriteToConsole(ConsoleStream::kError, shown); },
        ReadKeyFromTerminal};
    return AcceptLicenceOnTerminal(text, pager);
}

bool LicenceAllowsRun(const LicenceRoutes& routes, bool acceptedBeforehand, bool quiet,
                      std::string& why) {
    std::string text;
    std::string reason;
    const LicenceLookup found = FindLicence(nullptr, text, reason);
    if (found == LicenceLookup::kNone || !CarriesUsableArchive()) return true;
    if (found == LicenceLookup::kUnusable) {
        why = "the program's licence cannot be shown: " + reason;
        return false;
    }
    if (acceptedBeforehand) {
        OutputDebugString(u"winqor: the licence was accepted beforehand (--accept)\n");
        return true;
    }
    if (quiet) {
        why = "the program carries a licence to accept: --quiet needs --accept";
        return false;
    }
    switch (AskToAcceptLicence(text, routes)) {
        case LicenceAnswer::kAccepted:
            OutputDebugString(u"winqor: the licence was accepted\n");
            return true;
        case LicenceAnswer::kDeclined:
            why = "the licence was declined";
            return false;
        case LicenceAnswer::kNoWayToAsk:
            break;
    }
    why = "the licence cannot be shown: no display and no terminal (give --accept)";
    return false;
}

}  // namespace winqor
