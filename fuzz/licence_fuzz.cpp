// The licence a self-extracting program carries (image/licence_resource.h) and its paging on a
// terminal (app/licence_gate.h). The input's first two bytes are the terminal's rows and
// columns, the third how many keys are pressed; the keys follow, then the licence's bytes.
// Refused text always says why. Accepted text is checked byte by byte, independently of the
// checker: no byte order mark, no control character but tab, line feed, carriage return and
// form feed, C1 controls included. Paged with keys that never answer, every line is shown once
// and in order, carriage returns dropped and form feeds turned into line ends; the run accepts
// only after a y.
#include <algorithm>
#include <cstddef>
#include <span>
#include <string>

#include "app/licence_gate.h"
#include "fuzz/harness.h"
#include "image/licence_resource.h"

namespace {

using namespace winqor;
using fuzz::Require;

bool ShowsOnlyPlainText(std::span<const uint8_t> text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t byte = text[i];
        const bool c0 = byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f';
        const bool c1 =
            byte == 0xC2 && i + 1 < text.size() && text[i + 1] >= 0x80 && text[i + 1] <= 0x9F;
        if (c0 || byte == 0x7F || c1) return false;
    }
    return true;
}

// The text as the pager shows it: carriage returns dropped, form feeds ending lines, the last
// line ended.
std::string AsShown(std::span<const uint8_t> text) {
    std::string shown;
    for (const uint8_t byte : text) {
        if (byte == '\r') continue;
        shown += byte == '\f' ? '\n' : static_cast<char>(byte);
    }
    if (!shown.empty() && shown.back() != '\n') shown += '\n';
    return shown;
}

// Pages text with keys: false once they run out. What was shown, and whether a y was pressed.
struct Paged {
    bool accepted = false;
    bool sawYes = false;
    std::string written;
};

Paged Page(std::span<const uint8_t> text, TerminalSize size, std::span<const uint8_t> keys) {
    Paged paged;
    size_t next = 0;
    const TerminalPager pager{size, [&paged](std::string_view piece) { paged.written += piece; },
                              [&](const char*, char& key) {
                                  if (next == keys.size()) return false;
                                  key = static_cast<char>(keys[next++]);
                                  paged.sawYes = paged.sawYes || key == 'y' || key == 'Y';
                                  return true;
                              }};
    paged.accepted = AcceptLicenceOnTerminal(
        std::string(reinterpret_cast<const char*>(text.data()), text.size()), pager);
    return paged;
}

void CheckPaging(std::span<const uint8_t> text, TerminalSize size, std::span<const uint8_t> keys) {
    const std::string shown = AsShown(text);
    const Paged asked = Page(text, size, keys);
    Require(!asked.accepted || asked.sawYes, "the licence was accepted without a y");
    Require(shown.compare(0, asked.written.size(), asked.written) == 0,
            "the pager showed what the licence does not say, or out of order");
    // A key that is no answer for every page (there are no more pages than lines): all shown.
    const std::string spaces(std::count(shown.begin(), shown.end(), '\n') + 1, ' ');
    const Paged whole =
        Page(text, size, std::span(reinterpret_cast<const uint8_t*>(spaces.data()), spaces.size()));
    Require(!whole.accepted && whole.written == shown,
            "paged to the end without an answer, the pager did not show every line once");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t keyCount = std::min<size_t>(data[2], size - 3);
    const std::span<const uint8_t> text(data + 3 + keyCount, size - 3 - keyCount);
    std::string reason;
    if (!CheckLicenceText(text, reason)) {
        Require(!reason.empty(), "a refused licence without a reason");
        return 0;
    }
    Require(!text.empty() && text.size() <= kMaxLicenceBytes, "a licence of a size refused");
    Require(WithoutByteOrderMark(text).size() == text.size(),
            "a licence that starts with a byte order mark");
    Require(ShowsOnlyPlainText(text), "a licence that can send the terminal a command");
    CheckPaging(text, {data[0], data[1]}, std::span(data + 3, keyCount));
    return 0;
}
