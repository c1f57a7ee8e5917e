/* File queries; see file_helpers.h. A directory is never a file here, on
 * any platform. */
#include "file_helpers.h"

#include "platform.h"

#include <stdio.h>
#include <sys/stat.h>

int fileExists(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return 0;
    fclose(f);
    return !isDirectory(path);  // POSIX opens a directory for reading too
}

int64_t fileLength(const char *path) {
    return fileExists(path) ? fileSize(path) : -1;
}

int isDirectory(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string scratchPath(const char *path, const char *suffix) {
    std::string scratch = path;
    size_t name = scratch.find_last_of("/\\");
    scratch.insert(name == std::string::npos ? 0 : name + 1, "~");
    char id[24];
    snprintf(id, sizeof id, ".%lx", processId());
    return scratch + id + suffix;
}
