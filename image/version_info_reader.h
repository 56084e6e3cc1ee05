// The strings of a Windows program's version information (its RT_VERSION resource: a
// VS_VERSIONINFO block whose StringFileInfo holds one table of "key = value" strings per
// language), read for `aze info`. Pure code; every length is checked against the bytes left.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace winqor {

inline constexpr uint32_t kPeVersionType = 16;  // RT_VERSION

// The strings of the first string table, in the order stored, as UTF-8. false when resource is
// no version information this reader can follow (strings then holds what was read before).
bool ReadVersionStrings(std::span<const uint8_t> resource,
                        std::vector<std::pair<std::string, std::string>>& strings);

}  // namespace winqor
