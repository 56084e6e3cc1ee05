// The password dialog's check, apart from the window: a typed password is accepted only when
// its check value equals the current header's passwordCheck.
#pragma once

#include <string>

namespace winqor {

class PasswordController {
  public:
    // The OK check on m_password against the header g_currentHeader points at. Every
    // non-empty attempt leaves its digest in g_passwordDigest. A refused attempt empties
    // m_password (the window then puts the focus into the field); there is no limit on
    // attempts.
    bool CheckPassword();

    std::u16string m_password;
};

}  // namespace winqor
