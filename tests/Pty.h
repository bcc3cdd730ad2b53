// A pseudo-terminal standing in for a sign: the plug-in opens the slave side by name, the
// test reads the master side in the background with a timestamp for every chunk.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ledsign::test {

// A new pty's master (close-on-exec, not the controlling terminal) and its slave's path; -1 when
// none could be had.
inline int OpenPtyMaster(std::string& slavePath) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        if (master >= 0) close(master);
        return -1;
    }
    slavePath = name;
    return master;
}

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point at;
    std::string bytes;
};

// The pause the line showed before byte `offset` of everything received: the time between the read
// that began with it and the read before. Zero when that byte came in one read with the byte before
// it (no pause was seen), -1 when it has not come.
inline std::chrono::microseconds GapBefore(const std::vector<Chunk>& chunks, size_t offset) {
    size_t seen = 0;
    for (size_t index = 0; index < chunks.size(); seen += chunks[index++].bytes.size()) {
        if (seen + chunks[index].bytes.size() <= offset) continue;
        if (seen != offset || index == 0) return std::chrono::microseconds(0);
        return std::chrono::duration_cast<std::chrono::microseconds>(chunks[index].at - chunks[index - 1].at);
    }
    return std::chrono::microseconds(-1);
}

class Pty {
public:
    // `reading` false: the sign side reads nothing until Resume, and what is written waits in the pty.
    explicit Pty(bool reading = true);
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // "/dev/pts/N" and the name the plug-ins take under /dev/ ("pts/N").
    const std::string& SlavePath() const { return slavePath_; }
    std::string PortName() const { return slavePath_.substr(5); }

    // Keeps a slave descriptor open so the master never sees a hang-up between opens.
    void HoldSlave();
    // The line settings now in force on the slave side.
    termios SlaveSettings() const;

    // Waits until at least `count` bytes have arrived (or the time-out); returns all so far.
    std::string WaitForBytes(size_t count, int timeoutMs = 3000);
    // Returns everything that arrives within the quiet period after the last byte.
    std::string Settle(int quietMs = 150);
    // Waits for `count` bytes, then returns everything that arrives until the line is quiet.
    std::string SettleAfter(size_t count, int quietMs = 50) { WaitForBytes(count); return Settle(quietMs); }
    std::string Received() const;
    std::vector<Chunk> Chunks() const;
    // True while no slave side is open: before the first open, and after the last close.
    bool SlaveClosed() const;
    // Waits until no slave side is open; call it once the slave is known to have been opened.
    bool WaitForHangup(int timeoutMs = 3000);
    // Closes the master: the sign side vanishes.
    void CloseMaster();
    // Bytes from the sign side to the plug-in (an XOFF, noise).
    void Send(const std::string& bytes);
    // The sign side stops reading and the line fills up until a writer blocks; Resume reads again.
    void Stall();
    void Resume();
    // The sign side only stops reading; the writer fills the line.
    void StopReading() { paused_ = true; }

private:
    void ReadLoop();

    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
    mutable std::mutex mutex_;
    std::vector<Chunk> chunks_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::thread reader_;
};

// A pty whose slave the test holds open from the start, so that its master never sees a hang-up.
class HeldPty : public Pty {
public:
    HeldPty() { HoldSlave(); }
};

// A short name for a pty, as a udev rule gives a USB adapter one: a symlink "/tmp/XXXX" that can
// be pointed at another pty (the adapter plugged back) or removed (unplugged). Nine characters, so
// that the plug-ins take it.
class PortLink {
public:
    explicit PortLink(const Pty& pty);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    const std::string& Name() const { return name_; }
    void PointAt(const Pty& pty);
    void Remove();

private:
    std::string name_;
};

}  // namespace ledsign::test
