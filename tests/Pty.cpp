#include "Pty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

namespace ledsign::test {

Pty::Pty(bool reading) : paused_(!reading) {
    master_ = OpenPtyMaster(slavePath_);
    if (master_ < 0) throw std::runtime_error("no pty");
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    reader_ = std::thread([this] { ReadLoop(); });
}

Pty::~Pty() {
    stop_ = true;
    reader_.join();
    if (heldSlave_ >= 0) close(heldSlave_);
    if (master_ >= 0) close(master_);
}

void Pty::HoldSlave() {
    if (heldSlave_ < 0) heldSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

termios Pty::SlaveSettings() const {
    termios settings{};
    const int fd = heldSlave_ >= 0 ? heldSlave_ : open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    tcgetattr(fd, &settings);
    if (fd != heldSlave_) close(fd);
    return settings;
}

void Pty::ReadLoop() {
    // Real-time where allowed: a reader kept waiting by the machine's other work shortens the gaps.
    const sched_param priority{1};
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    char buffer[4096];
    while (!stop_) {
        if (paused_) {
            usleep(2000);
            continue;
        }
        pollfd request{master_, POLLIN, 0};
        if (poll(&request, 1, 5) <= 0) continue;
        const ssize_t got = read(master_, buffer, sizeof buffer);
        const auto at = Clock::now();
        if (got > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            chunks_.push_back({at, std::string(buffer, static_cast<size_t>(got))});
        } else if (got < 0 && errno == EIO) {
            usleep(1000);  // no slave side open
        }
    }
}

std::string Pty::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const Chunk& chunk : chunks_) all += chunk.bytes;
    return all;
}

std::vector<Chunk> Pty::Chunks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return chunks_;
}

std::string Pty::WaitForBytes(size_t count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string all = Received();
    while (all.size() < count && Clock::now() < deadline) {
        usleep(2000);
        all = Received();
    }
    return all;
}

std::string Pty::Settle(int quietMs) {
    size_t seen = Received().size();
    auto quietSince = Clock::now();
    while (Clock::now() - quietSince < std::chrono::milliseconds(quietMs)) {
        usleep(5000);
        const size_t now = Received().size();
        if (now != seen) {
            seen = now;
            quietSince = Clock::now();
        }
    }
    return Received();
}

bool Pty::SlaveClosed() const {
    pollfd request{master_, 0, 0};
    return poll(&request, 1, 0) == 1 && (request.revents & POLLHUP) != 0;
}

bool Pty::WaitForHangup(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!SlaveClosed()) {
        if (Clock::now() >= deadline) return false;
        usleep(1000);
    }
    return true;
}

void Pty::CloseMaster() {
    stop_ = true;
    reader_.join();
    close(master_);
    master_ = -1;
    stop_ = false;
    reader_ = std::thread([] {});
}

}  // namespace ledsign::test

namespace ledsign::test {

void Pty::Send(const std::string& bytes) {
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("pty master write failed");
    }
}

void Pty::Stall() {
    paused_ = true;
    usleep(10000);  // the reader finishes the read it may be in
    HoldSlave();  // the master sees no hang-up while the filler comes and goes
    const int filler = open(slavePath_.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // The kernel moves bytes on a moment after each write: full is when writes have failed for a
    // while. Blocks first, then single bytes: a buffer too full for a block can still take a few
    // bytes, as many as a frame.
    for (const size_t size : {512, 1}) {
        const std::string block(size, 'z');
        auto fullSince = Clock::now();
        while (Clock::now() - fullSince < std::chrono::milliseconds(size > 1 ? 500 : 100)) {
            if (write(filler, block.data(), block.size()) > 0) {
                fullSince = Clock::now();
            } else {
                usleep(5000);
            }
        }
    }
    close(filler);
}

void Pty::Resume() { paused_ = false; }

}  // namespace ledsign::test

namespace ledsign::test {

PortLink::PortLink(const Pty& pty) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u ^ static_cast<unsigned>(Clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = "/tmp/";
        for (int letter = 0; letter < 4; ++letter) name += kLetters[rand_r(&seed) % (sizeof kLetters - 1)];
        // symlink fails on a name that exists: the name is this link's alone.
        if (symlink(pty.SlavePath().c_str(), name.c_str()) == 0) {
            name_ = name;
            return;
        }
    }
    throw std::runtime_error("no free /tmp name for a port link");
}

PortLink::~PortLink() { Remove(); }

void PortLink::PointAt(const Pty& pty) {
    unlink(name_.c_str());
    if (symlink(pty.SlavePath().c_str(), name_.c_str()) != 0) throw std::runtime_error("cannot repoint " + name_);
}

void PortLink::Remove() { unlink(name_.c_str()); }

}  // namespace ledsign::test
