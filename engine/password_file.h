// The password of an encrypted archive given in a file: its first line.
#pragma once

#include <string>

namespace winqor {

enum class PasswordFileRead { kRead, kFolder, kTooLong, kUnreadable };

// The first line of passwordFile ("-" is standard input) without its line end (a "\r" before
// the "\n" included). An empty file holds the empty password; standard input that ends at
// once holds none. A first line longer than a password line may be is refused once that is
// exceeded, so that a device that never ends is not read for ever.
PasswordFileRead ReadPasswordFile(const std::string& passwordFile, std::string& line);

// Why a read other than kRead failed, for a message such as "WHY: FILE".
std::string DescribePasswordFileRead(PasswordFileRead read);

}  // namespace winqor
