// A seam that only test builds carry (WINQOR_TEST_SEAMS): shipped programs get the version
// that always says no. Wine starts a program that asks for an administrator's rights like any
// other, so the tests ask for CreateProcessW's refusal (ERROR_ELEVATION_REQUIRED) to see the
// shell start it instead.
#pragma once

namespace winqor {

// True when the test asks to treat every program as needing elevation; says so on the debug
// channel each time.
bool ElevationRequiredForTests();

}  // namespace winqor
