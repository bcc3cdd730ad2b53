// POSIX backend of the serial module's write path: termios, an exclusive hold on the device, and
// a write that returns once every byte has been written and drained (within its deadline, the
// drain included). The receive side is ReceivePosix.cpp; the host services HostServicesPosix.cpp.
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "serial/HostServices.h"
#include "serial/PosixTermios.h"
#include "serial/SerialPort.h"

namespace ledsign {

namespace {

void ReleaseDescriptor(int fd) {
    // TIOCEXCL outlives the descriptor on some bridges; clear it so the device can be reopened.
    ioctl(fd, TIOCNXCL);
    close(fd);
}

using MonotonicMs = int64_t;

MonotonicMs NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<MonotonicMs>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Milliseconds left until the deadline, 0 once it has passed.
int RemainingMs(MonotonicMs deadline) {
    const MonotonicMs left = deadline - NowMs();
    if (left <= 0) return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

enum class Readiness { kReady, kTimedOut, kFailed };

// Errors after which the descriptor is of no further use. EIO: the tty was hung up under it (a USB
// adapter unplugged, the far side of a pty closed); ENXIO and ENODEV: the device behind it is gone;
// EBADF: the descriptor itself is no longer valid.
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EBADF; }

Readiness Failed(LineFault& fault, const char* operation, int error) {
    fault = LineFault{operation, error, DeviceGone(error), false};
    return Readiness::kFailed;
}

Readiness TimedOut(LineFault& fault, const char* operation) {
    fault = LineFault{operation, 0, false, true};
    return Readiness::kTimedOut;
}

Readiness WaitWritable(int fd, MonotonicMs deadline, LineFault& fault) {
    pollfd request{fd, POLLOUT, 0};
    for (;;) {
        const int ready = poll(&request, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Failed(fault, "poll", errno);
        if (ready == 0) return TimedOut(fault, "poll");
        if ((request.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) return Readiness::kReady;
        // A hang-up or an error reported by poll: the device is gone, and no number comes with it.
        fault = LineFault{"poll: the line hung up", 0, true, false};
        return Readiness::kFailed;
    }
}

// The drain of a write, kept to its deadline. What each kind of driver does with tcdrain decides
// where it runs (measured on the kernel's 8250 and ftdi_sio drivers, docs/host-integration.md):
// - A UART under the serial core (8250 and its kin) answers tcdrain from its own line status
//   register and gives up after twice its FIFO's time, so once the output queue is empty the
//   drain is bounded by the driver. The queue is watched here first, sleeping about as long as the
//   queued bytes take, so that a line held by flow control keeps to the deadline too.
// - A USB adapter (ftdi_sio and the other usb-serial drivers) answers tcdrain with a status
//   request to the adapter, under a lock that its removal waits for: pulled during that request,
//   the drain blocks for the request's 5 s USB time-out, and no signal ends it. Nothing the
//   adapter offers without such a request tells its transmitter is empty (ftdi_sio's line status
//   comes from the adapter's bulk packets, which not every adapter sends), and waiting out the
//   bytes' line time instead would add that time to every write. So the drain runs on a thread of
//   its own and the write waits for it only until its deadline; an abandoned drain goes on there
//   until the driver lets it go, and the next drain waits for it, within its own deadline.
// - A pty has no transmitter: its tcdrain returns at once, so none is made. Its write has landed
//   in the far side's buffer or blocked above.
// Waits while *word holds `value`, at most `timeoutMs` (-1: no limit); the caller looks again.
void FutexWait(std::atomic<uint32_t>& word, uint32_t value, int timeoutMs) {
    const timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value,
            timeoutMs < 0 ? nullptr : &timeout, nullptr, 0);
}

void FutexWake(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

// Bumped in a forked child: a drain thread made before the fork does not exist there.
std::atomic<uint32_t> forkGeneration{0};
bool forkHandlerInstalled = false;
void ForgetDrainThreadsInChild();

}  // namespace

class DrainThread {
public:
    enum class Outcome { kDrained, kFailed, kTimedOut, kNoThread };

    DrainThread() = default;

    // Starts the thread, once a port that needs it is opened (the C library takes memory for a new
    // thread: this happens once, not on every call). Without it the drains run on the caller's thread.
    void Start() {
        if (running_ || tried_) return;
        tried_ = true;
        // The thread takes none of the host's signals: they stay with the host's own threads.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        running_ = pthread_create(&thread_, nullptr, &DrainThread::Run, this) == 0;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (running_) pthread_setname_np(thread_, kDrainThreadName);
        generation_ = forkGeneration.load();
        // A forked child has no such thread: the module's starts again at the child's next open.
        if (running_ && !forkHandlerInstalled) {
            forkHandlerInstalled = pthread_atfork(nullptr, nullptr, &ForgetDrainThreadsInChild) == 0;
        }
    }

    // Waits, when the module goes, for a drain still in the driver's hands: the thread runs code
    // of this module until then.
    ~DrainThread() {
        if (!Usable()) return;
        stopping_ = true;
        requested_.fetch_add(1);
        FutexWake(requested_);
        pthread_join(thread_, nullptr);
    }

    DrainThread(const DrainThread&) = delete;
    DrainThread& operator=(const DrainThread&) = delete;

    // tcdrain on the descriptor, waited for until the deadline. The errno of a failed drain
    // through `error`. A handover costs two futex calls on each side and no lock.
    Outcome Drain(int fd, MonotonicMs deadline, int& error) {
        if (!Usable()) return Outcome::kNoThread;
        // An earlier drain that was given up may still be in the driver.
        const uint32_t previous = requested_.load();
        if (!WaitFinished(previous, deadline)) return Outcome::kTimedOut;
        fd_ = fd;
        const uint32_t request = previous + 1;
        requested_.store(request);
        FutexWake(requested_);
        if (!WaitFinished(request, deadline)) {
            // Not taken up yet: withdrawn, so that no drain of this descriptor starts later.
            if (fd_.exchange(-1) >= 0) finished_.store(request);
            return Outcome::kTimedOut;
        }
        error = error_;
        return error == 0 ? Outcome::kDrained : Outcome::kFailed;
    }

    // True while a drain asked for has not ended: the thread is in the driver, or about to be.
    bool InDriver() const { return Usable() && finished_.load() != requested_.load(); }

    // Waits until the drain asked for last has ended; false when it has not by the deadline.
    bool WaitIdle(MonotonicMs deadline) { return !Usable() || WaitFinished(requested_.load(), deadline); }

private:
    // A thread started before a fork does not exist in the child.
    bool Usable() const { return running_ && generation_ == forkGeneration.load(); }

public:
    // In a forked child: the module's thread is started again at the child's next open.
    void ForgetInChild() {
        running_ = false;
        tried_ = false;
        stopping_ = false;
        requested_ = 0;
        finished_ = 0;
    }

private:
    bool WaitFinished(uint32_t request, MonotonicMs deadline) {
        for (uint32_t finished = finished_.load(); finished != request; finished = finished_.load()) {
            const int left = RemainingMs(deadline);
            if (left == 0) return false;
            callerWaiting_ = true;
            FutexWait(finished_, finished, left);
            callerWaiting_ = false;
        }
        return true;
    }

    static void* Run(void* self) {
        DrainThread& drains = *static_cast<DrainThread*>(self);
        uint32_t done = 0;
        while (!drains.stopping_) {
            const uint32_t request = drains.requested_.load();
            if (request == done) {
                FutexWait(drains.requested_, done, -1);
                continue;
            }
            const int fd = drains.fd_.exchange(-1);
            int error = 0;
            while (fd >= 0 && tcdrain(fd) != 0) {
                if (errno != EINTR) {
                    error = errno;
                    break;
                }
            }
            drains.error_ = error;
            done = request;
            drains.finished_.store(request);
            if (drains.callerWaiting_) FutexWake(drains.finished_);
        }
        return nullptr;
    }

    pthread_t thread_{};
    bool running_ = false;
    bool tried_ = false;
    uint32_t generation_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<uint32_t> requested_{0};  // the number of the last drain asked for
    std::atomic<uint32_t> finished_{0};   // the number of the last drain ended (or withdrawn)
    std::atomic<bool> callerWaiting_{false};
    std::atomic<int> fd_{-1};  // the descriptor of a drain not yet taken up
    int error_ = 0;            // of the last drain ended, written before finished_
};

namespace {

// One for the module: a plug-in holds one port.
DrainThread moduleDrainThread;

void ForgetDrainThreadsInChild() {
    forkGeneration.fetch_add(1);
    moduleDrainThread.ForgetInChild();
}

// The port's own drain thread (the library's signs), else the module's.
DrainThread& DrainerOf(const PlatformPort& port) {
    return port.ownDrainThread != nullptr ? *port.ownDrainThread : moduleDrainThread;
}

Readiness WaitQueueEmpty(PlatformPort& port, MonotonicMs deadline) {
    for (;;) {
        int queued = 0;
        if (ioctl(port.fd, TIOCOUTQ, &queued) != 0) return Failed(port.fault, "TIOCOUTQ", errno);
        if (queued <= 0) break;
        const int left = RemainingMs(deadline);
        if (left == 0) return TimedOut(port.fault, "drain");
        const int queueMs = static_cast<int>(DrainEstimateMs(static_cast<uint32_t>(queued), port.baudRate));
        PlatformSleep(static_cast<uint32_t>(queueMs < left ? queueMs : left));
    }
    while (tcdrain(port.fd) != 0) {
        if (errno != EINTR) return Failed(port.fault, "tcdrain", errno);
    }
    return Readiness::kReady;
}

// A drain given up at its deadline: a device that went away meanwhile counts as lost.
Readiness DrainTimedOut(PlatformPort& port) {
    pollfd request{port.fd, POLLOUT, 0};
    if (poll(&request, 1, 0) == 1 && (request.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        port.fault = LineFault{"tcdrain: the line hung up", 0, true, false};
        return Readiness::kFailed;
    }
    return TimedOut(port.fault, "tcdrain");
}

Readiness Drain(PlatformPort& port, MonotonicMs deadline) {
    if (port.drain == DrainKind::kNone) return Readiness::kReady;
    if (port.drain == DrainKind::kHelper) {
        int error = 0;
        switch (DrainerOf(port).Drain(port.fd, deadline, error)) {
            case DrainThread::Outcome::kDrained: return Readiness::kReady;
            case DrainThread::Outcome::kFailed: return Failed(port.fault, "tcdrain", error);
            case DrainThread::Outcome::kTimedOut: return DrainTimedOut(port);
            case DrainThread::Outcome::kNoThread: break;
        }
    }
    return WaitQueueEmpty(port, deadline);
}

// An abandoned write leaves nothing behind to reach the sign later, out of turn. On a USB adapter
// the flush waits, like every drain, while the driver holds the device in a status request (3 s
// and more behind one to a pulled ftdi_sio adapter): while the drain thread is still in one, the
// flush is owed and made before the next write or the close, once the driver has let go.
void DiscardOutput(PlatformPort& port) {
    port.discardOwed = port.drain == DrainKind::kHelper && DrainerOf(port).InDriver();
    if (!port.discardOwed) tcflush(port.fd, TCOFLUSH);
}

// An owed discard is made before anything new is queued behind the abandoned bytes, once the driver
// has let go of their drain: false when it still holds it at the deadline.
bool MakeOwedDiscard(PlatformPort& port, MonotonicMs deadline) {
    if (!DrainerOf(port).WaitIdle(deadline)) return false;
    DiscardOutput(port);
    return true;
}

// Frees a descriptor from 0, 1 or 2: a host started with standard error closed must never
// have its trace lines written onto the sign's line.
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

// Unix98 pty slaves have majors 136 to 143; the serial core's UARTs major 4 (ttyS) and 204
// (the low-density serial ports: ttyAMA, ttySAC, ...). Every other device's drain runs on the
// drain thread, which bounds any driver.
DrainKind DrainKindOf(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return DrainKind::kHelper;
    const unsigned deviceMajor = major(status.st_rdev);
    if (deviceMajor >= 136 && deviceMajor <= 143) return DrainKind::kNone;
    if (deviceMajor == 4 || deviceMajor == 204) return DrainKind::kInline;
    return DrainKind::kHelper;
}

// Gives up an open: the port holds nothing, or is marked failed (-1), and the cause is kept.
int32_t OpenFailed(PlatformPort& port, int32_t result, const char* operation, int error) {
    port.fd = result == -1 ? kFailedDescriptor : kNoDescriptor;
    port.fault = LineFault{operation, error, false, false};
    return result;
}

}  // namespace

int32_t PlatformOpen(PlatformPort& port, const char* portName, const LineSettings& settings) {
    // Room for any path the system takes: the library opens a port by its full stable name
    // (/dev/serial/by-id/...), not only by the plug-ins' short ones.
    char path[PATH_MAX];
    if (!ResolveDevicePath(portName, path, sizeof path)) return OpenFailed(port, -1, "no usable port name", 0);
    const int fd = AboveStandardStreams(open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0) return OpenFailed(port, -1, "open", errno);
    // A second holder fails here: TIOCEXCL does not stop root, the advisory lock does.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return OpenFailed(port, -1, "flock", error);
    }
    ioctl(fd, TIOCEXCL);
    // Only what waits to be read is stale. A serial device's close already waited for its output
    // to leave, and on a pty the output side still holds what an earlier holder wrote and the far
    // side has not taken in yet: flushing it would lose those frames.
    tcflush(fd, TCIFLUSH);

    const DrainKind drain = DrainKindOf(fd);
    const bool pseudoTerminal = drain == DrainKind::kNone;
    termios current{};
    termios wanted{};
    termios applied{};
    // Whether the line took the settings is read back, not taken from tcsetattr: it succeeds when
    // any part applied, and fails (EINVAL) when nothing changed, which a pty answers to a second
    // open with 5 to 7 data bits or parity, since it keeps neither.
    const char* refusal = nullptr;
    int error = 0;
    if (tcgetattr(fd, &current) != 0) {
        refusal = "tcgetattr";
        error = errno;
    } else if (!BuildTermios(current, settings, &wanted)) {
        refusal = "settings the line cannot take";
    } else {
        tcsetattr(fd, TCSANOW, &wanted);
        if (tcgetattr(fd, &applied) != 0) {
            refusal = "tcgetattr";
            error = errno;
        } else if (!LineTookSettings(wanted, applied, pseudoTerminal)) {
            refusal = "settings not taken by the line";
        }
    }
    if (refusal != nullptr) {
        ReleaseDescriptor(fd);
        return OpenFailed(port, -2, refusal, error);
    }
    port.fd = fd;
    port.baudRate = settings.baudRate;
    port.pseudoTerminal = pseudoTerminal;
    port.drain = drain;
    port.discardOwed = false;
    if (drain == DrainKind::kHelper && !port.ownDrainThreadWanted) moduleDrainThread.Start();
    port.fault = LineFault{};
    // Made with the first open of a device that drains on a thread, kept for the port's life. If
    // none can be had, the drains run on the caller's thread.
    if (drain == DrainKind::kHelper && port.ownDrainThreadWanted && port.ownDrainThread == nullptr) {
        port.ownDrainThread = new (std::nothrow) DrainThread();
        if (port.ownDrainThread != nullptr) port.ownDrainThread->Start();
    }
    return 1;
}

void PlatformForget(PlatformPort& port) {
    delete port.ownDrainThread;
    port.ownDrainThread = nullptr;
}

void PlatformClose(PlatformPort& port) {
    // What an abandoned write left is not waited for by the close.
    if (port.fd >= 0 && port.discardOwed) DiscardOutput(port);
    port.discardOwed = false;
    if (port.fd >= 0) ReleaseDescriptor(port.fd);
    port.fd = kNoDescriptor;
    port.inQueue = 0;
}

int32_t PlatformWrite(PlatformPort& port, const uint8_t* bytes, uint32_t count) {
    port.fault = LineFault{};
    if (port.fd < 0) return -1;
    const MonotonicMs deadline = NowMs() + WriteDeadlineMs(count, port.baudRate);
    Readiness state = Readiness::kReady;
    if (port.discardOwed && !MakeOwedDiscard(port, deadline)) state = DrainTimedOut(port);
    uint32_t done = 0;
    while (done < count && state == Readiness::kReady) {
        const ssize_t written = write(port.fd, bytes + done, count - done);
        if (written > 0) {
            done += static_cast<uint32_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            state = WaitWritable(port.fd, deadline, port.fault);
        } else {
            state = Failed(port.fault, "write", written < 0 ? errno : 0);
        }
    }
    if (state == Readiness::kReady) state = Drain(port, deadline);
    if (state == Readiness::kTimedOut) DiscardOutput(port);
    return state == Readiness::kReady ? 1 : -1;
}

bool PlatformHolds(const PlatformPort& port) { return port.fd >= 0; }

bool PlatformOpenFailed(const PlatformPort& port) { return port.fd == kFailedDescriptor; }

uint32_t PlatformNowMs() { return static_cast<uint32_t>(NowMs()); }

void PlatformErrorText(int32_t code, char* text, size_t size) {
    // The English description, untranslated: no locale catalogue is read (nor memory taken) for it.
    const char* description = strerrordesc_np(code);
    std::snprintf(text, size, "%s", description != nullptr ? description : "unknown error");
}

void PlatformSleep(uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {}
}

}  // namespace ledsign
