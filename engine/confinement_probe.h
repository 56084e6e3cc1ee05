// A seam that only test builds carry (WINQOR_TEST_SEAMS): the shipped programs get the empty
// version. It lets the tests prove that extraction is confined: a write that the walk's own
// checks would never make is tried outside the root, and must fail.
#pragma once

namespace winqor {

// True when the test asks for an unconfined run (as on a system without confinement), so
// that the probe's write can be seen to succeed there.
bool ConfinementSkippedForTests();

// Called by the output stage before it writes: tries to create the file the test names
// outside the root and says on the debug channel what happened.
void ProbeConfinement();

}  // namespace winqor
