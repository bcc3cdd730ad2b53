#include "tools/ledctl/TraceRelay.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/ledctl/Console.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace ledsign::tools {

void TraceRelay::Notice(const std::string& line) {
    if (line.find(" lost: ") != std::string::npos || line.find(" stalled: ") != std::string::npos) {
        wentAway_ = true;
    } else if (wentAway_ && line.find(" back: reopened at ") != std::string::npos) {
        wentAway_ = false;
        cameBack_ = true;
    }
}

bool TraceRelay::TakeComeBack() { return cameBack_.exchange(false); }

#if defined(_WIN32)

namespace {

// The debug-output buffer as OutputDebugStringA fills it: the writer's process and its text.
struct DebugBuffer {
    DWORD processId;
    char text[4096 - sizeof(DWORD)];
};

}  // namespace

DWORD WINAPI TraceRelay::RelayThread(void* relay) {
    static_cast<TraceRelay*>(relay)->Relay();
    return 0;
}

bool TraceRelay::Start(std::string& why) {
    if (IsDebuggerPresent()) {
        why = "a debugger has the debug output; the trace lines are there";
        return false;
    }
    mutexHandle_ = CreateMutexA(nullptr, FALSE, "DBWinMutex");
    bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    const bool taken = GetLastError() == ERROR_ALREADY_EXISTS;
    dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    mapping_ =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DebugBuffer), "DBWIN_BUFFER");
    view_ = mapping_ != nullptr ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, sizeof(DebugBuffer)) : nullptr;
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    started_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (taken || bufferReady_ == nullptr || dataReady_ == nullptr || view_ == nullptr || stop_ == nullptr ||
        started_ == nullptr) {
        why = taken ? "a debug-output viewer has the debug output; the trace lines are there"
                    : "the debug output cannot be read here";
        running_ = true;  // so that Stop releases what was made
        Stop();
        return false;
    }
    running_ = true;
    reader_ = CreateThread(nullptr, 0, &RelayThread, this, 0, nullptr);
    // The thread must be running before the plug-in loads: a new thread first attaches to every
    // loaded module under the loader lock, which the plug-in's load holds while it traces its
    // "Initializing" line, and that line waits for the relay.
    if (reader_ == nullptr || WaitForSingleObject(started_, 5000) != WAIT_OBJECT_0) {
        why = "no thread for the trace";
        Stop();
        return false;
    }
    SetCatchUp(&TraceRelay::CatchUp, this);
    return true;
}

// A line handed over is shown before the relay gives the buffer back: once the buffer is ready
// again, every line the plug-in wrote so far is on the screen.
void TraceRelay::CatchUp(void* relay) {
    HANDLE ready = static_cast<TraceRelay*>(relay)->bufferReady_;
    if (WaitForSingleObject(ready, 2000) == WAIT_OBJECT_0) SetEvent(ready);
}

void TraceRelay::Relay() {
    const DebugBuffer& buffer = *static_cast<const DebugBuffer*>(view_);
    HANDLE waits[2] = {dataReady_, stop_};
    SetEvent(started_);
    for (;;) {
        SetEvent(bufferReady_);
        // A line already handed over comes before the stop (the lower index wins).
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return;
        if (buffer.processId != GetCurrentProcessId()) continue;
        std::string text(buffer.text, strnlen(buffer.text, sizeof buffer.text));
        {
            const ConsoleLock lock;
            std::fflush(stdout);
            std::fwrite(text.data(), 1, text.size(), stderr);
            std::fflush(stderr);
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        Notice(text);
    }
}

void TraceRelay::Stop() {
    if (!running_.exchange(false)) return;
    SetCatchUp(nullptr, nullptr);
    if (stop_ != nullptr) SetEvent(stop_);
    if (reader_ != nullptr) {
        WaitForSingleObject(reader_, INFINITE);
        CloseHandle(reader_);
        reader_ = nullptr;
    }
    if (view_ != nullptr) UnmapViewOfFile(view_);
    for (void* handle : {mapping_, dataReady_, bufferReady_, stop_, started_, mutexHandle_}) {
        if (handle != nullptr) CloseHandle(handle);
    }
    view_ = nullptr;
    mapping_ = dataReady_ = bufferReady_ = stop_ = started_ = mutexHandle_ = nullptr;
}

#else

bool TraceRelay::Start(std::string& why) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        why = "no pipe for the trace";
        return false;
    }
    savedErrors_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (savedErrors_ < 0 || dup2(ends[1], STDERR_FILENO) < 0) {
        why = "standard error cannot be relayed";
        close(ends[0]);
        close(ends[1]);
        if (savedErrors_ >= 0) close(savedErrors_);
        savedErrors_ = -1;
        return false;
    }
    close(ends[1]);
    pipeRead_ = ends[0];
    // Read only what is there: the relay and ledctl's own texts take turns under the console lock.
    fcntl(pipeRead_, F_SETFL, fcntl(pipeRead_, F_GETFL) | O_NONBLOCK);
    running_ = true;
    reader_ = std::thread([this] { Relay(); });
    SetCatchUp(&TraceRelay::CatchUp, this);
    return true;
}

void TraceRelay::CatchUp(void* relay) {
    const ConsoleLock lock;
    static_cast<TraceRelay*>(relay)->Forward();
}

// Everything is shown as it comes, ledctl's own messages as well as the trace, a whole line at a
// time; bytes are read only under the console lock, so nothing read is shown after a later text.
void TraceRelay::Forward() {
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeRead_, buffer, sizeof buffer)) > 0) pending_.append(buffer, static_cast<size_t>(got));
    const bool ended = got == 0;
    size_t whole = pending_.rfind('\n');
    whole = whole == std::string::npos ? (ended ? pending_.size() : 0) : (ended ? pending_.size() : whole + 1);
    if (whole == 0) return;
    std::fflush(stdout);
    for (size_t written = 0; written < whole;) {
        const ssize_t now = write(savedErrors_, pending_.data() + written, whole - written);
        if (now <= 0) break;
        written += static_cast<size_t>(now);
    }
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos && end < whole; start = end + 1) {
        Notice(pending_.substr(start, end - start));
    }
    if (start < whole) Notice(pending_.substr(start, whole - start));
    pending_.erase(0, whole);
}

void TraceRelay::Relay() {
    for (;;) {
        pollfd request{pipeRead_, POLLIN, 0};
        if (poll(&request, 1, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        const ConsoleLock lock;
        Forward();
        // The pipe's end: every writer is gone (Stop gave standard error back).
        if ((request.revents & (POLLHUP | POLLERR)) != 0 && (request.revents & POLLIN) == 0) break;
    }
}

void TraceRelay::Stop() {
    if (!running_.exchange(false)) return;
    SetCatchUp(nullptr, nullptr);
    // Standard error back: the pipe's last writer goes and the reader sees its end.
    dup2(savedErrors_, STDERR_FILENO);
    reader_.join();
    {
        const ConsoleLock lock;
        Forward();
    }
    close(savedErrors_);
    close(pipeRead_);
    savedErrors_ = pipeRead_ = -1;
}

#endif

}  // namespace ledsign::tools
