// The device end of a pty mapped as a Wine COM port: links the slave as the port, runs the
// given command with its output in a log file, and answers every "S<n>\n" that arrives with
// n pattern bytes (A to Z over and over). Exits with the command's exit code.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Pty.h"

namespace {

void Answer(int master, std::string& pending) {
    for (;;) {
        const size_t start = pending.find('S');
        const size_t end = pending.find('\n', start == std::string::npos ? 0 : start);
        if (start == std::string::npos || end == std::string::npos) return;
        const int count = std::atoi(pending.substr(start + 1, end - start - 1).c_str());
        pending.erase(0, end + 1);
        std::string bytes;
        for (int i = 0; i < count; ++i) bytes += static_cast<char>('A' + i % 26);
        if (!bytes.empty() && write(master, bytes.data(), bytes.size()) < 0) std::perror("device write");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PORT_LINK LOG_FILE COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    std::string slavePathText;
    const int master = ledsign::test::OpenPtyMaster(slavePathText);
    if (master < 0) {
        std::perror("pty");
        return 2;
    }
    const char* slavePath = slavePathText.c_str();
    // A held, raw slave: the master never sees a hang-up between the program's opens.
    const int slave = open(slavePath, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    unlink(argv[1]);
    if (symlink(slavePath, argv[1]) != 0) {
        std::perror("port link");
        return 2;
    }

    const pid_t child = fork();
    if (child == 0) {
        const int log = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int none = open("/dev/null", O_RDONLY);
        dup2(none, 0);
        dup2(log, 1);
        dup2(log, 2);
        execvp(argv[3], argv + 3);
        std::perror("exec");
        _exit(127);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    std::string pending;
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, WNOHANG) == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the program did not finish in time\n");
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        pollfd request{master, POLLIN, 0};
        if (poll(&request, 1, 10) <= 0 || (request.revents & POLLIN) == 0) continue;
        char buffer[256];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0) {
            pending.append(buffer, static_cast<size_t>(got));
            Answer(master, pending);
        }
    }
    unlink(argv[1]);
    close(slave);
    close(master);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
