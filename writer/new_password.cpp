#include "writer/new_password.h"

#include <algorithm>
#include <cstring>

#include "protection/password.h"

namespace winqor {
namespace {

bool IsControl(char16_t unit) {
    return unit < 0x20 || unit == 0x7F;
}

// How many characters the digest depends on: the narrowed form ends at its first zero byte.
size_t CountedCharacters(const std::u16string& password) {
    uint8_t narrowed[kMaxNewPasswordUnits + 1] = {};
    NarrowPassword(password.c_str(), narrowed);
    return strnlen(reinterpret_cast<const char*>(narrowed), kMaxNewPasswordUnits);
}

bool RefuseShape(std::u16string_view password, std::string& reason) {
    if (password.empty()) {
        reason = "the password is empty";
    } else if (password.size() > kMaxNewPasswordUnits) {
        reason =
            "the password is longer than 15 characters, more than a reader's password "
            "window takes (a character outside the Basic Multilingual Plane counts as two)";
    } else if (std::any_of(password.begin(), password.end(), IsControl)) {
        reason =
            "the password holds a control character, which a reader's password window "
            "cannot take";
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool PrepareNewPassword(std::u16string_view password, NewPassword& result, std::string& reason) {
    if (RefuseShape(password, reason)) return false;
    const std::u16string terminated(password);
    DerivePasswordDigest(result.digest.data(), terminated.c_str());
    uint8_t check[16];
    if (ComputeCheckValue(check, result.digest.data()) == nullptr) {
        reason =
            "no reader can ever accept this password (its digest starts with a zero byte): "
            "choose another password";
        return false;
    }
    const size_t counted = CountedCharacters(terminated);
    result.warning.clear();
    if (counted < password.size()) {
        result.warning = "only the first " + std::to_string(counted) + " of the password's " +
                         std::to_string(password.size()) +
                         " characters count; the rest do not make it harder to guess";
    }
    return true;
}

}  // namespace winqor
