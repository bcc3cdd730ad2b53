// POSIX backend of the serial module's receive side: the non-waiting read, the purge and the
// receive monitor's thread and waits. No export reaches them; the write path does not need them.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

#include "serial/SerialPort.h"

namespace ledsign {

namespace {

uint32_t CountWaiting(int fd) {
    int waiting = 0;
    if (fd < 0 || ioctl(fd, FIONREAD, &waiting) != 0 || waiting < 0) return 0;
    return static_cast<uint32_t>(waiting);
}

// True once the stop pipe has been written: it stays readable until the thread is collected.
bool StopRequested(const PlatformMonitor& monitor, int timeoutMs) {
    pollfd request{monitor.stopPipe[0], POLLIN, 0};
    for (;;) {
        const int ready = poll(&request, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

void* MonitorStart(void* monitor) {
    const PlatformMonitor& started = *static_cast<PlatformMonitor*>(monitor);
    return reinterpret_cast<void*>(static_cast<uintptr_t>(started.routine(started.context)));
}

}  // namespace

uint32_t PlatformBytesWaiting(PlatformPort& port) {
    if (port.fd < 0) return 0;
    port.inQueue = CountWaiting(port.fd);
    return port.inQueue;
}

bool PlatformReadAtOnce(PlatformPort& port, uint8_t* buffer, uint32_t count) {
    if (port.fd < 0) return false;
    uint32_t done = 0;
    while (done < count) {
        const ssize_t got = read(port.fd, buffer + done, count - done);
        if (got > 0) {
            done += static_cast<uint32_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            return false;  // nothing more at once (EAGAIN), the line hung up, or an error
        }
    }
    return true;
}

void PlatformPurge(PlatformPort& port) {
    if (port.fd >= 0) tcflush(port.fd, TCIOFLUSH);
}

void PlatformForgetWaiting(PlatformPort& port) { port.inQueue = 0; }

bool PlatformStartMonitor(PlatformMonitor& monitor, uint32_t (*routine)(void*), void* context) {
    if (pipe2(monitor.stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    monitor.routine = routine;
    monitor.context = context;
    if (pthread_create(&monitor.thread, nullptr, &MonitorStart, &monitor) != 0) {
        close(monitor.stopPipe[0]);
        close(monitor.stopPipe[1]);
        return false;
    }
    // Named so that the thread can be told apart in debuggers and process listings.
    pthread_setname_np(monitor.thread, kMonitorThreadName);
    monitor.running = true;
    return true;
}

bool PlatformMonitorHeld(const PlatformMonitor& monitor) { return monitor.running; }

void PlatformStopMonitor(PlatformMonitor& monitor, PlatformPort&, bool) {
    if (!monitor.running) return;
    // The thread's waits all watch the pipe, so one byte ends any of them.
    while (write(monitor.stopPipe[1], "x", 1) < 0 && errno == EINTR) {}
    pthread_join(monitor.thread, nullptr);
    close(monitor.stopPipe[0]);
    close(monitor.stopPipe[1]);
    monitor.running = false;
}

bool PlatformMonitorBegin(MonitorWaitState&) { return true; }

void PlatformMonitorEnd(MonitorWaitState&) {}

uint32_t PlatformMonitorBytesWaiting(const PlatformPort& port, MonitorWaitState&) { return CountWaiting(port.fd); }

bool PlatformMonitorWaitEvent(const PlatformPort& port, const PlatformMonitor& monitor, MonitorWaitState&) {
    pollfd requests[2] = {{port.fd, POLLIN, 0}, {monitor.stopPipe[0], POLLIN, 0}};
    for (;;) {
        const int ready = poll(requests, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        // Anything on the line (data, hang-up, error) counts as the event, as does a failed wait.
        return (requests[1].revents & POLLIN) == 0;
    }
}

bool PlatformMonitorPause(const PlatformMonitor& monitor, uint32_t milliseconds) {
    const int timeoutMs = milliseconds > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(milliseconds);
    return !StopRequested(monitor, timeoutMs);
}

}  // namespace ledsign
