// Choosing the password of a new archive: only one that every reader can accept.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace winqor {

// Longest password, in UTF-16 units, that a reader's password window lets one type.
inline constexpr size_t kMaxNewPasswordUnits = 15;

struct NewPassword {
    std::array<uint8_t, 16> digest = {};
    // Set when fewer characters count than were given (the narrowed form ends early).
    std::string warning;
};

// The digest to write an archive with. false, with reason set, for a password that
// is empty, longer than a reader's window takes, holds a control character (which the window
// cannot type either), or whose digest starts with a zero byte (no reader ever accepts it).
bool PrepareNewPassword(std::u16string_view password, NewPassword& result, std::string& reason);

}  // namespace winqor
