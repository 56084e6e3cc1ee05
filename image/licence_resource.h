// The licence a self-extracting program may carry beside its archive: a resource of its own
// (in the resource table on Linux, in the PE resource tree on Windows), UTF-8 text that the
// program shows and asks to be accepted before it unpacks anything. Pure code.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace winqor {

inline constexpr std::string_view kSetupLicenceType = "SETUP_LICENSE";
inline constexpr std::u16string_view kSetupLicenceTypeUtf16 = u"SETUP_LICENSE";
inline constexpr uint32_t kSetupLicenceId = 131;
// Long enough for any licence text in use, small enough to show and page through.
inline constexpr uint64_t kMaxLicenceBytes = 256 * 1024;

// Whether text can be carried and shown as a licence: 1 to kMaxLicenceBytes bytes of UTF-8
// with no byte order mark, holding no control character but tab, line feed, carriage return
// and form feed (so that showing it on a terminal cannot send the terminal a command). false,
// with reason set, otherwise.
bool CheckLicenceText(std::span<const uint8_t> text, std::string& reason);

// The text without a UTF-8 byte order mark at its start, as editors on Windows write it.
std::span<const uint8_t> WithoutByteOrderMark(std::span<const uint8_t> text);

}  // namespace winqor
