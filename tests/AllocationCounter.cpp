#include "AllocationCounter.h"

#include <cstddef>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
// Only the counting thread counts: a pty reader allocates as bytes arrive.
thread_local bool counting = false;
thread_local long allocations = 0;

void Count() {
    if (counting) ++allocations;
}
}  // namespace

extern "C" void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

namespace ledsign::test {

void StartCountingAllocations() {
    allocations = 0;
    counting = true;
}

long StopCountingAllocations() {
    counting = false;
    return allocations;
}

}  // namespace ledsign::test
