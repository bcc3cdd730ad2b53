// Counts the heap allocations the calling thread makes while a count is running. Linking
// AllocationCounter.cpp replaces malloc, calloc and realloc for the whole program, so it goes
// only into programs built without a sanitizer.
#pragma once

namespace ledsign::test {

void StartCountingAllocations();
// Stops counting and returns the allocations since the start.
long StopCountingAllocations();

}  // namespace ledsign::test
