// Small views of the test process: its open descriptors and its children's ends.
#pragma once

#include <dirent.h>
#include <sys/wait.h>

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

}  // namespace ledsign::test
