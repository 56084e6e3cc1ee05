// The platform's limits that fixed buffers are sized by.
#pragma once

#include <cstdint>

// kMaxPath and kPathSeparator of the system built for (platform/posix or platform/win32,
// chosen by CMake).
#include "native_limits.h"
