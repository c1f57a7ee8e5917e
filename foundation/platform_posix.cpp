/* POSIX side of the platform layer: the program's folder from
 * /proc/self/exe, thread-safe local time. */
#include "platform.h"

#include <string.h>
#include <unistd.h>

#include "paths.h"

int programFolder(char *dir, size_t size) {
    ssize_t n = readlink("/proc/self/exe", dir, size - 1);
    if (n <= 0 || (size_t)n >= size - 1) return getcwd(dir, size) != NULL;
    dir[n] = '\0';
    cutAtLastSeparator(dir);
    return 1;
}

void localTimeOf(time_t t, struct tm *out) {
    localtime_r(&t, out);
}
