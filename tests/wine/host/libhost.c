/* A Windows host of the ledsign library, linked through its import library: opens two signs,
 * shows GBK text on the first and UTF-8 text on the second, clears both, and prints every
 * result with the library's reason, one line each.
 *   libhost MODEL1 PORT1 MODEL2 PORT2 */
#include <stdio.h>

#include "include/ledsign_lib.h"

int main(int argc, char **argv) {
    ledsign_sign *signs[2] = {NULL, NULL};
    int index;
    if (argc != 5) {
        fprintf(stderr, "usage: libhost MODEL1 PORT1 MODEL2 PORT2\n");
        return 2;
    }
    for (index = 0; index < 2; ++index) {
        const int result = ledsign_open(argv[1 + 2 * index], argv[2 + 2 * index], "9600,8,NONE,1", &signs[index]);
        printf("open%d = %d %s\n", index + 1, result, ledsign_last_error(NULL));
    }
    if (signs[0] == NULL || signs[1] == NULL) return 1;
    printf("write1 = %d\n", ledsign_write(signs[0], "AB#D"));
    printf("write2 = %d\n", ledsign_write_utf8(signs[1], "\xE4\xB8\xAD\xE6\x96\x87#OK"));
    printf("utf8 = %d %s\n", ledsign_write_utf8(signs[1], "\xF0\x9F\x98\x80"), ledsign_last_error(signs[1]));
    printf("clear1 = %d\n", ledsign_clear(signs[0]));
    printf("clear2 = %d\n", ledsign_clear(signs[1]));
    ledsign_close(signs[0]);
    ledsign_close(signs[1]);
    fflush(stdout);
    return 0;
}
