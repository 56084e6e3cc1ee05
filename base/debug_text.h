// The debug channel's formatting: printf-style over UTF-16, bounded, with names escaped.
#pragma once

#include <cstdarg>

namespace winqor {

// Formats format into buffer of units UTF-16 units (always terminated; at most units - 1
// pass): %s takes a terminated const char16_t*, shown escaped as EscapeControls
// (base/text.h) shows it, %d an int, %u an unsigned int, %% a percent sign; any other
// conversion stands as it is.
void FormatDebugText(char16_t* buffer, int units, const char16_t* format, va_list& args);

}  // namespace winqor
