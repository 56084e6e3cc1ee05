// The file named by the program's argument or by a drop from a file manager, as a local path.
// Nothing here needs GTK's headers.
#pragma once

#include <string>

namespace winqor {

// The local file a file: URI names (escapes decoded), as an absolute path. False for another
// scheme, another host than this one, or a name that is not valid text.
bool LocalPathFromUri(const char* uri, std::u16string& path);

// The file a command-line argument names: a file: URI as above, anything else a path, a
// relative one joined to the current directory now, since an extraction moves it later.
bool LocalPathFromArgument(const char* argument, std::u16string& path);

}  // namespace winqor
