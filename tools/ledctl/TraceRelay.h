// ledctl --trace: the plug-in's trace lines pass through ledctl, which shows them as they come
// and notices a line that was lost (or stalled) and came back, so that it can say so.
#pragma once

#include <atomic>
#include <string>
#if !defined(_WIN32)
#include <thread>
#endif

namespace ledsign::tools {

class TraceRelay {
public:
    TraceRelay() = default;
    ~TraceRelay() { Stop(); }
    TraceRelay(const TraceRelay&) = delete;
    TraceRelay& operator=(const TraceRelay&) = delete;

    // Starts catching the trace channel before the plug-in is loaded: on Linux this process's
    // standard error, on Windows the debug output. False, with the reason, when it cannot (on
    // Windows: a debugger or a debug-output viewer has it already; the lines are there).
    bool Start(std::string& why);
    // Shows what is still on its way and gives the channel back.
    void Stop();
    // True when, since the last call, a "lost" or "stalled" line was followed by a "back" one.
    bool TakeComeBack();

private:
    // Looks at one trace line, on the relaying thread.
    void Notice(const std::string& line);
    void Relay();
    // Shows the trace lines still on their way before ledctl shows a text of its own (Say's catch-up).
    static void CatchUp(void* relay);

    bool wentAway_ = false;  // the relaying side's own (on Linux under the console lock)
    std::atomic<bool> cameBack_{false};
    std::atomic<bool> running_{false};
#if defined(_WIN32)
    static unsigned long __stdcall RelayThread(void* relay);
    void* reader_ = nullptr;
    void* bufferReady_ = nullptr;
    void* dataReady_ = nullptr;
    void* stop_ = nullptr;
    void* started_ = nullptr;
    void* mapping_ = nullptr;
    const void* view_ = nullptr;
    void* mutexHandle_ = nullptr;
#else
    // Reads what the pipe holds and shows its whole lines; called with the console lock held.
    void Forward();
    std::thread reader_;
    int pipeRead_ = -1;
    int savedErrors_ = -1;
    std::string pending_;  // the start of a line not yet whole
#endif
};

}  // namespace ledsign::tools
