// Shell-style patterns that leave entries out of a packed tree: '*' and '?' match within one
// name (never a '/'), "[...]" one character of a set ("[!...]" or "[^...]" one outside it,
// "a-z" a range), and '\' takes the next character as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace winqor {

// True when pattern matches the whole of text.
bool MatchesPattern(std::string_view pattern, std::string_view text);

// The patterns given to leave entries out. A pattern without a '/' matches an entry's name at
// any depth; one with a '/' matches the entry's path below the root ("docs/*.tmp"), a leading
// "/" or "./" only anchoring it there. A pattern that ends in '/' matches folders only.
class ExcludeList {
  public:
    void Add(std::string pattern);
    bool empty() const { return patterns_.empty(); }
    // where: the entry's path below the root, parts joined by '/'.
    bool Excludes(std::string_view where, bool isFolder) const;

  private:
    struct Pattern {
        std::string text;
        bool wholePath = false;
        bool foldersOnly = false;
    };
    std::vector<Pattern> patterns_;
};

}  // namespace winqor
