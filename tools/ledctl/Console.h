// What ledctl shows. Each text is written whole and flushed under one lock for standard output and
// standard error, after the plug-in's trace lines that came before it: lines never mix (two
// writers on one Windows console) and come in the order they were made, on a terminal as in one
// log file that both streams go to.
#pragma once

#include <cstdio>

namespace ledsign::tools {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Say(FILE* stream, const char* format, ...);

// Held while a text is written: the trace relay writes its lines under it too.
class ConsoleLock {
public:
    ConsoleLock();
    ~ConsoleLock();
    ConsoleLock(const ConsoleLock&) = delete;
    ConsoleLock& operator=(const ConsoleLock&) = delete;
};

// Called by Say before it writes, outside the lock, to show the trace lines still on their way;
// null for none. The trace relay sets it while it runs.
using CatchUp = void (*)(void* context);
void SetCatchUp(CatchUp catchUp, void* context);

}  // namespace ledsign::tools
