#include "tools/ledctl/Console.h"

#include <atomic>
#include <cstdarg>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <mutex>
#endif

namespace ledsign::tools {

namespace {

#if defined(_WIN32)
// A critical section: MinGW's win32 thread model has no std::mutex.
struct Lock {
    Lock() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
};
Lock& TheLock() {
    static Lock lock;
    return lock;
}
#else
std::mutex& TheLock() {
    static std::mutex lock;
    return lock;
}
#endif

std::atomic<CatchUp> catchUp{nullptr};
std::atomic<void*> catchUpContext{nullptr};

}  // namespace

#if defined(_WIN32)
ConsoleLock::ConsoleLock() { EnterCriticalSection(&TheLock().section); }
ConsoleLock::~ConsoleLock() { LeaveCriticalSection(&TheLock().section); }
#else
ConsoleLock::ConsoleLock() { TheLock().lock(); }
ConsoleLock::~ConsoleLock() { TheLock().unlock(); }
#endif

void SetCatchUp(CatchUp function, void* context) {
    catchUpContext = context;
    catchUp = function;
}

void Say(FILE* stream, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(size > 0 ? static_cast<size_t>(size) + 1 : 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.resize(size > 0 ? static_cast<size_t>(size) : 0);

    const CatchUp showWaiting = catchUp;
    if (showWaiting != nullptr) showWaiting(catchUpContext);
    const ConsoleLock lock;
    // Whatever the other stream holds goes first: both may lead to one file.
    std::fflush(stream == stdout ? stderr : stdout);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace ledsign::tools
