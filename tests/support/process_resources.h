#pragma once
// What the test's own process holds now: its threads, and its handles (Windows) or open file
// descriptors (elsewhere). For tests that repeat something many times and check that nothing is
// left behind.

namespace fluxmere::testing {

int ThreadsOfThisProcess();
int HandlesOfThisProcess();

}  // namespace fluxmere::testing
