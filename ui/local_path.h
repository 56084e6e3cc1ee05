// The file named by the program's argument or by a file: URI, as a local path. Each system has
// its own (ui/gtk/local_path.cpp, ui/win32/local_path.cpp); nothing here needs its headers.
#pragma once

#include <string>

namespace winqor {

// The local file a file: URI names (escapes decoded), as an absolute path. False for another
// scheme or a name that is not valid text; on Linux for another host than this one too (Windows
// reaches one by its network path).
bool LocalPathFromUri(const char* uri, std::u16string& path);

// The file a command-line argument names: a file: URI as above, anything else a path, a
// relative one joined to the current directory now, since an extraction moves it later.
bool LocalPathFromArgument(const char* argument, std::u16string& path);

}  // namespace winqor
