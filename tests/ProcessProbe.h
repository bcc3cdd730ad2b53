// Small views of the test process: its open descriptors, its children's ends, and a body of
// test code run in a child.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TraceLines.h"

namespace ledsign::test {

// Entries of /proc/self/fd (the directory's own descriptor included, so compare counts).
inline int OpenDescriptors() {
    int count = 0;
    DIR* directory = opendir("/proc/self/fd");
    while (readdir(directory) != nullptr) ++count;
    closedir(directory);
    return count;
}

// Everything read from `fd` until its end.
inline std::string ReadToEnd(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<size_t>(got));
    return all;
}

// Fills the pipe that `fd` writes to, up to its last byte, so that the next write to it blocks.
inline void FillPipe(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string newlines(256, '\n');
    for (size_t chunk : {newlines.size(), size_t{1}}) {
        while (write(fd, newlines.data(), chunk) > 0) {
        }
    }
    fcntl(fd, F_SETFL, flags);
}

// Waits for a child; its exit status, or 100 when it did not exit normally.
inline int WaitChild(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// True when a descriptor of this process still holds the character device `device` (an st_rdev):
// fstat works on a descriptor whose device node has gone.
inline bool HoldsDevice(dev_t device) {
    bool held = false;
    DIR* directory = opendir("/proc/self/fd");
    for (dirent* entry; (entry = readdir(directory)) != nullptr;) {
        struct stat status {};
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fstat(fd, &status) == 0 && S_ISCHR(status.st_mode)) {
            held |= status.st_rdev == device;
        }
    }
    closedir(directory);
    return held;
}

// This process's standard error, captured while the object lives: what a plug-in traces.
class CapturedErrors {
public:
    CapturedErrors() {
        if (pipe(pipe_) != 0) return;
        saved_ = dup(STDERR_FILENO);
        dup2(pipe_[1], STDERR_FILENO);
        close(pipe_[1]);
        reader_ = std::thread([this] { text_ = ReadToEnd(pipe_[0]); });
    }
    ~CapturedErrors() { Stop(); }
    CapturedErrors(const CapturedErrors&) = delete;
    CapturedErrors& operator=(const CapturedErrors&) = delete;

    // Gives standard error back; the lines written until then.
    std::vector<std::string> Lines() {
        Stop();
        return SplitLines(text_);
    }

private:
    void Stop() {
        if (saved_ < 0) return;
        dup2(saved_, STDERR_FILENO);  // the pipe's last writer goes: the reader sees its end
        close(saved_);
        saved_ = -1;
        reader_.join();
        close(pipe_[0]);
    }

    int pipe_[2] = {-1, -1};
    int saved_ = -1;
    std::string text_;
    std::thread reader_;
};

// The descriptors a started program gets as its standard streams; -1 leaves the test's own.
struct StandardStreams {
    int in = -1, out = -1, err = -1;
};

// Starts a program: args[0] is a path or a name looked up in PATH. A non-empty `environment`
// ("NAME=value") replaces the test's; `ownGroup` puts the program in a process group of its own,
// so that it and what it starts can be ended together. The child's pid, or -1.
inline pid_t StartProgram(const std::vector<std::string>& args, StandardStreams streams,
                          const std::vector<std::string>& environment = {}, bool ownGroup = false) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    if (ownGroup) setpgid(0, 0);
    const int sources[] = {streams.in, streams.out, streams.err};  // for descriptors 0, 1 and 2
    for (int stream = 0; stream < 3; ++stream)
        if (sources[stream] >= 0) dup2(sources[stream], stream);
    environment.empty() ? execvp(argv[0], argv.data()) : execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
}

struct ChildRun {
    int status;          // the child's exit status, or 100 when it did not exit normally
    std::string errors;  // everything it wrote to standard error
};

// Runs `body` in a child process whose standard error is a pipe the parent reads to its end; the
// child exits with what `body` returns.
template <class Body>
ChildRun RunInChild(Body body) {
    int errorPipe[2];
    if (pipe(errorPipe) != 0) return {101, {}};
    const pid_t child = fork();
    if (child == 0) {
        dup2(errorPipe[1], STDERR_FILENO);
        close(errorPipe[0]);
        close(errorPipe[1]);
        _exit(body());
    }
    close(errorPipe[1]);
    const std::string errors = ReadToEnd(errorPipe[0]);
    close(errorPipe[0]);
    return {WaitChild(child), errors};
}

}  // namespace ledsign::test
