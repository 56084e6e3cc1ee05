// The name an extraction writes a file under before renaming it over its own:
// ".winqor-<pid>-<n>.partial". Hidden, and of a shape no tree holds by chance, so that one a
// killed run left behind is told apart from a file of the tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace winqor {

inline constexpr std::string_view kTemporaryPrefix = ".winqor-";
inline constexpr std::string_view kTemporarySuffix = ".partial";

// The temporary name of process pid with its unique number n.
std::string TemporaryName(uint64_t pid, uint64_t n);

// Whether name has the shape of an extraction's temporary file.
bool IsExtractionTemporary(const std::string& name);

}  // namespace winqor
