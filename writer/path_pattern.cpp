#include "writer/path_pattern.h"

namespace winqor {
namespace {

// Matches c against the set that starts just after '[' at pattern[at]; at is moved past the
// closing ']'. false, with at unchanged, when the set is not closed: '[' is then literal.
bool MatchesSet(std::string_view pattern, size_t& at, char c, bool& matched) {
    size_t i = at;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) ++i;
    bool found = false;
    // A ']' right after the opening (or its negation) belongs to the set.
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        char low = pattern[i++];
        if (low == '\\' && i < pattern.size()) low = pattern[i++];
        char high = low;
        if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
            high = pattern[i + 1];
            i += 2;
            if (high == '\\' && i < pattern.size()) high = pattern[i++];
        }
        const auto u = static_cast<unsigned char>(c);
        if (static_cast<unsigned char>(low) <= u && u <= static_cast<unsigned char>(high)) {
            found = true;
        }
    }
    if (i >= pattern.size()) return false;
    at = i + 1;
    matched = found != negated && c != '/';
    return true;
}

// Whether the element of pattern at p (a character, '?', a set or an escape) matches c; next
// is set past the element.
bool MatchesElement(std::string_view pattern, size_t p, char c, size_t& next) {
    next = p + 1;
    bool matched = false;
    if (pattern[p] == '?') return c != '/';
    if (pattern[p] == '[' && MatchesSet(pattern, next, c, matched)) return matched;
    if (pattern[p] == '\\' && next < pattern.size()) ++p, ++next;
    return pattern[p] == c;
}

}  // namespace

// Backtracks to the last '*' only: a '*' never crosses '/', so the text it may take grows one
// character at a time and the work stays proportional to pattern times text.
bool MatchesPattern(std::string_view pattern, std::string_view text) {
    size_t p = 0, t = 0;
    size_t starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
            continue;
        }
        size_t next = 0;
        if (p < pattern.size() && MatchesElement(pattern, p, text[t], next)) {
            p = next;
            ++t;
            continue;
        }
        if (starP == std::string_view::npos || text[starT] == '/') return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

void ExcludeList::Add(std::string pattern) {
    Pattern added;
    while (pattern.size() > 1 && pattern.back() == '/') {
        pattern.pop_back();
        added.foldersOnly = true;
    }
    if (pattern.starts_with("./")) pattern.erase(0, 2);
    while (pattern.size() > 1 && pattern.front() == '/') {
        pattern.erase(0, 1);
        added.wholePath = true;
    }
    added.wholePath = added.wholePath || pattern.find('/') != std::string::npos;
    added.text = std::move(pattern);
    patterns_.push_back(std::move(added));
}

bool ExcludeList::Excludes(std::string_view where, bool isFolder) const {
    const size_t slash = where.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? where : where.substr(slash + 1);
    for (const Pattern& pattern : patterns_) {
        if (pattern.foldersOnly && !isFolder) continue;
        if (MatchesPattern(pattern.text, pattern.wholePath ? where : name)) return true;
    }
    return false;
}

}  // namespace winqor
