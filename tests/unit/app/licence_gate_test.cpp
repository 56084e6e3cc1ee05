#include "app/licence_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace winqor {
namespace {

// A terminal of a given size that answers with keys, one per prompt, and records what it showed.
struct FakeTerminal {
    TerminalSize size;
    std::string keys;  // the answers, in turn; the input ends after them
    std::string shown;
    std::vector<std::string> prompts;

    TerminalPager Pager() {
        return {size, [this](std::string_view text) { shown += text; },
                [this](const char* prompt, char& key) {
                    prompts.emplace_back(prompt);
                    if (prompts.size() > keys.size()) return false;
                    key = keys[prompts.size() - 1];
                    return true;
                }};
    }
};

std::string Lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

bool IsMore(const std::string& prompt) {
    return prompt.starts_with("-- more");
}

struct PagerCase {
    const char* what;
    TerminalSize size;
    std::string text;
    std::string keys;
    bool accepted;
    size_t morePrompts;     // page breaks asked before the end or the answer
    const char* lastShown;  // the last line shown before the answer
};

TEST(AcceptLicenceOnTerminal, PagesALongLicenceAndTakesOnlyYesAsAcceptance) {
    const PagerCase cases[] = {
        {"short text, y", {24, 80}, Lines(3), "y", true, 0, "line 3\n"},
        {"short text, n", {24, 80}, Lines(3), "n", false, 0, "line 3\n"},
        {"short text, input ends", {24, 80}, Lines(3), "", false, 0, "line 3\n"},
        {"short text, Ctrl+D", {24, 80}, Lines(3), "\x04", false, 0, "line 3\n"},
        {"other keys ask again", {24, 80}, Lines(3), "x\x1b Y", true, 0, "line 3\n"},
        {"no size known: no pages", {0, 0}, Lines(50), "y", true, 0, "line 50\n"},
        {"10 rows: pages of 9 lines", {10, 80}, Lines(20), "  y", true, 2, "line 20\n"},
        {"y at a page break accepts", {10, 80}, Lines(20), "y", true, 1, "line 9\n"},
        {"n at a page break declines", {10, 80}, Lines(20), " n", false, 2, "line 18\n"},
        {"input ends at a page break", {10, 80}, Lines(20), "", false, 1, "line 9\n"},
        {"a wrapped line takes its rows",
         {4, 10},
         std::string(25, 'a') + "\nb\n",
         " y",
         true,
         1,
         "b\n"},
        {"carriage returns dropped, form feed a break", {24, 80}, "a\r\nb\fc", "y", true, 0, "c\n"},
    };
    for (const PagerCase& test : cases) {
        SCOPED_TRACE(test.what);
        FakeTerminal terminal{test.size, test.keys, {}, {}};
        EXPECT_EQ(AcceptLicenceOnTerminal(test.text, terminal.Pager()), test.accepted);
        size_t more = 0;
        for (const std::string& prompt : terminal.prompts) more += IsMore(prompt) ? 1 : 0;
        EXPECT_EQ(more, test.morePrompts);
        EXPECT_TRUE(terminal.shown.ends_with(test.lastShown)) << terminal.shown;
        EXPECT_EQ(terminal.shown.find('\r'), std::string::npos);
    }
}

TEST(AcceptLicenceOnTerminal, NoPageIsLongerThanTheScreenLessThePromptRow) {
    FakeTerminal terminal{{6, 80}, "    y", {}, {}};
    ASSERT_TRUE(AcceptLicenceOnTerminal(Lines(23), terminal.Pager()));
    // 23 lines in pages of 5: four page breaks, then the question.
    EXPECT_EQ(terminal.prompts.size(), 5U);
    EXPECT_EQ(terminal.shown, Lines(23));
}

struct RouteCase {
    const char* what;
    bool display;
    bool terminal;
    bool answer;  // what the route asked gives
    LicenceAnswer expected;
    const char* asked;  // "dialog", "terminal" or ""
};

TEST(AskToAcceptLicence, AsksInTheWindowElseOnTheTerminalElseNowhere) {
    const RouteCase cases[] = {
        {"display: the window accepts", true, true, true, LicenceAnswer::kAccepted, "dialog"},
        {"display: the window declines", true, true, false, LicenceAnswer::kDeclined, "dialog"},
        {"no display: the terminal", false, true, true, LicenceAnswer::kAccepted, "terminal"},
        {"no display: the terminal declines", false, true, false, LicenceAnswer::kDeclined,
         "terminal"},
        {"neither", false, false, true, LicenceAnswer::kNoWayToAsk, ""},
    };
    for (const RouteCase& test : cases) {
        SCOPED_TRACE(test.what);
        std::string asked, shownText;
        const LicenceRoutes routes{[&] { return test.display; },
                                   [&](const std::string& text) {
                                       asked = "dialog";
                                       shownText = text;
                                       return test.answer;
                                   },
                                   [&] { return test.terminal; },
                                   [&](const std::string& text) {
                                       asked = "terminal";
                                       shownText = text;
                                       return test.answer;
                                   }};
        EXPECT_EQ(AskToAcceptLicence("the terms", routes), test.expected);
        EXPECT_EQ(asked, test.asked);
        if (!asked.empty()) {
            EXPECT_EQ(shownText, "the terms");
        }
    }
}

}  // namespace
}  // namespace winqor
