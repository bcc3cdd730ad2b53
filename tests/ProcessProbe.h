// Small views of the test process: its open descriptors, its children's ends, and a body of
// test code run in a child.
#pragma once

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace ledsign::test {

// Entries of /proc/self/fd (the directory's own descriptor included, so compare counts).
inline int OpenDescriptors() {
    int count = 0;
    DIR* directory = opendir("/proc/self/fd");
    while (readdir(directory) != nullptr) ++count;
    closedir(directory);
    return count;
}

// Waits for a child; its exit status, or 100 when it did not exit normally.
inline int WaitChild(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
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
    ChildRun run{0, {}};
    char buffer[4096];
    for (ssize_t got; (got = read(errorPipe[0], buffer, sizeof buffer)) > 0;) run.errors.append(buffer, got);
    close(errorPipe[0]);
    run.status = WaitChild(child);
    return run;
}

}  // namespace ledsign::test
