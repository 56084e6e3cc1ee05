// A seam that only test builds carry (WINQOR_TEST_SEAMS): the shipped programs get the empty
// version. It lets the tests prove that extraction is confined: a write that the walk's own
// checks would never make is tried outside the root, and must fail; a taken-over child tries
// what its walls forbid; a child lies to its parent; no child can be started.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winqor {

// True when the test asks for an unconfined run (as on a system without confinement), so
// that the probe's write can be seen to succeed there.
bool ConfinementSkippedForTests();

// Called by the output stage before it writes: tries to create the file the test names
// outside the root (or to make or change the entry there by each call the test lists) and says
// on the debug channel what happened.
void ProbeConfinement();

// Called in the confined child before it touches the archive: tries each forbidden call the
// test names and says on the debug channel how each ended.
void ProbeSandbox();

// Called in the parent when the child's first message arrives: says on the debug channel, when
// the test asks, what the child runs and how many threads it has.
void ObserveChildForTests(int64_t pid);

// True when the test asks that no child can be started.
bool ChildStartRefusedForTests();

// The time a child may run: normal, or a shorter one the test asks for.
uint32_t ChildSecondsForTests(uint32_t normal);

// The decoder's memory budget: normal, or the smaller one the test asks for.
uint64_t DecoderBudgetForTests(uint64_t normal);

// What a lying child does instead of the truth, chosen by the test: "hang" (never ends),
// "flood" (a message past the bound) or "folder" (lastFolder becomes the components the test
// names). Empty when the child tells the truth.
std::string ChildLieForTests(std::vector<std::u16string>& lastFolder);

}  // namespace winqor
