// The host services a POSIX host provides: the receive monitor's notify hook, the trace channel
// (standard error) and the monitor's messages, and the environment.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "serial/HostServices.h"

namespace ledsign {

namespace {

void WriteAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

pthread_mutex_t hookLock = PTHREAD_MUTEX_INITIALIZER;
MonitorNotifyHook notifyHook = nullptr;
void* notifyHookContext = nullptr;

}  // namespace

void SetMonitorNotifyHook(MonitorNotifyHook hook, void* context) {
    pthread_mutex_lock(&hookLock);
    notifyHook = hook;
    notifyHookContext = context;
    pthread_mutex_unlock(&hookLock);
}

void NotifyHostMainWindow() {
    // Held across the call so that a hook that was replaced is never running afterwards.
    pthread_mutex_lock(&hookLock);
    if (notifyHook != nullptr) notifyHook(notifyHookContext, WM_SERIAL_NOTIFY, 0, 0);
    pthread_mutex_unlock(&hookLock);
}

void WriteTraceText(const char* text, size_t length) {
    // SIGPIPE is held back on this thread for the write; one that the write raised is taken
    // off again, so that the host neither dies of it nor sees it later.
    sigset_t pipeSignal;
    sigset_t previousMask;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
    sigset_t pending;
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    WriteAll(STDERR_FILENO, text, length);
    sigpending(&pending);
    if (!pendingBefore && sigismember(&pending, SIGPIPE) == 1) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {}
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

void ShowHostMessage(const HostText& text) {
    char line[128];
    const size_t length = std::strlen(text.utf8);
    if (length + 1 > sizeof line) return;
    std::memcpy(line, text.utf8, length);
    line[length] = '\n';
    WriteTraceText(line, length + 1);
}

bool EnvironmentHolds(const char* name, const char* value) {
    const char* found = getenv(name);
    return found != nullptr && std::strcmp(found, value) == 0;
}

}  // namespace ledsign
