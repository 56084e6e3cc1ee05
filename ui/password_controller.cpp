#include "ui/password_controller.h"

#include "format/archive_header.h"
#include "protection/password.h"

namespace winqor {

bool PasswordController::CheckPassword() {
    if (AcceptPassword(m_password.c_str(), g_currentHeader)) return true;
    m_password.clear();
    return false;
}

}  // namespace winqor
