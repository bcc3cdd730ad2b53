/* A small C99 host built against the installed header: it loads a plug-in from the installed
 * plug-in folder, as a display host does, and writes "AB" to a pseudo-terminal it made.
 * Prints the bytes that arrived, in hex; exits 0 when Write2Led gave 1. */
#define _XOPEN_SOURCE 600
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ledsign.h"

static void *Resolve(void *library, const char *name) {
    void *symbol = dlsym(library, name);
    if (symbol == NULL) {
        fprintf(stderr, "host: no %s\n", name);
        exit(3);
    }
    return symbol;
}

int main(int argc, char **argv) {
    int master;
    void *library;
    void *symbol;
    InitLedFn initLed;
    OpenLedFn openLed;
    Write2LedFn write2Led;
    CloseLedFn closeLed;
    PortSettings settings;
    const char *slave;
    unsigned char received[64];
    ssize_t got = 0;
    ssize_t index;
    int result;
    struct pollfd request;
    if (argc != 2) return 2;
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 4;
    slave = ptsname(master);
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "host: %s\n", dlerror());
        return 3;
    }
    /* ISO C converts no object pointer to a function pointer: the bytes are copied. */
    symbol = Resolve(library, "InitLed");
    memcpy(&initLed, &symbol, sizeof initLed);
    symbol = Resolve(library, "OpenLed");
    memcpy(&openLed, &symbol, sizeof openLed);
    symbol = Resolve(library, "Write2Led");
    memcpy(&write2Led, &symbol, sizeof write2Led);
    symbol = Resolve(library, "CloseLed");
    memcpy(&closeLed, &symbol, sizeof closeLed);
    memset(&settings, 0, sizeof settings);
    strncpy(settings.portName, slave + 5, sizeof settings.portName - 1); /* "pts/N" */
    settings.baudRate = 9600;
    settings.dataBits = 8;
    settings.stopBits = 1;
    strcpy(settings.parityWord, "NONE");
    initLed(&settings);
    if (openLed() != 1) return 5;
    result = write2Led("AB");
    request.fd = master;
    request.events = POLLIN;
    request.revents = 0;
    if (poll(&request, 1, 2000) == 1) got = read(master, received, sizeof received);
    closeLed();
    dlclose(library);
    for (index = 0; index < got; ++index) printf("%02X", received[index]);
    printf("\n");
    return result == 1 ? 0 : 1;
}
