/* File queries; see file_helpers.h. A directory is never a file here, on
 * any platform. */
#include "file_helpers.h"

#include <stdio.h>
#include <sys/stat.h>

int fileExists(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return 0;
    fclose(f);
    return !isDirectory(path);  // POSIX opens a directory for reading too
}

int32_t fileLength(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return -1;
    long length = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    fclose(f);
    return length >= 0 && length <= INT32_MAX ? (int32_t)length : -1;
}

int isDirectory(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
