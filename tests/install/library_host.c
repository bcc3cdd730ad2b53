/* A C99 host of the installed library, built with `pkg-config --cflags --libs ledsign`: two signs
 * of different models on two pseudo-terminals it made, each given its own text in UTF-8.
 * Prints what arrived on each line, in hex, one line a sign; exits 0 when every call gave 1. */
#define _XOPEN_SOURCE 600
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <ledsign_lib.h>

static int OpenLine(char *slave, size_t size) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    const char *name = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : NULL;
    if (name == NULL || (size_t)snprintf(slave, size, "%s", name) >= size) exit(2);
    return master;
}

static void PrintArrived(int master) {
    unsigned char bytes[256];
    struct pollfd request;
    ssize_t got;
    request.fd = master;
    request.events = POLLIN;
    while (poll(&request, 1, 200) > 0 && (got = read(master, bytes, sizeof bytes)) > 0) {
        ssize_t index;
        for (index = 0; index < got; ++index) printf("%02X", bytes[index]);
    }
    printf("\n");
}

int main(void) {
    char ports[2][64];
    int masters[2];
    ledsign_sign *entrance = NULL, *exit_sign = NULL;
    int failures = 0;
    masters[0] = OpenLine(ports[0], sizeof ports[0]);
    masters[1] = OpenLine(ports[1], sizeof ports[1]);

    if (ledsign_open("elvane", ports[0], NULL, &entrance) != 1 || ledsign_open("brava", ports[1], NULL, &exit_sign) != 1) {
        fprintf(stderr, "host: %s\n", ledsign_last_error(NULL));
        return 1;
    }
    failures += ledsign_write_utf8(entrance, "\xE6\xAC\xA2\xE8\xBF\x8E#Welcome") != 1; /* 欢迎#Welcome */
    failures += ledsign_write_utf8(exit_sign, "OK") != 1;
    ledsign_close(entrance);
    ledsign_close(exit_sign);
    PrintArrived(masters[0]);
    PrintArrived(masters[1]);
    return failures;
}
