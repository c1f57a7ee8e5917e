/* POSIX side of the platform layer: the program's folder from
 * /proc/self/exe, the desktop from the XDG setting or ~/Desktop, file moves
 * by rename (renameat2 or link and unlink where a name must stay free),
 * UTF-8 file names, thread-safe local time. */
#include "platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "charset.h"
#include "paths.h"

int programFolder(char *dir, size_t size) {
    ssize_t n = readlink("/proc/self/exe", dir, size - 1);
    if (n <= 0 || (size_t)n >= size - 1) return getcwd(dir, size) != NULL;
    dir[n] = '\0';
    cutAtLastSeparator(dir);
    return 1;
}

int desktopFolder(char *dir, size_t size) {
    const char *xdg = getenv("XDG_DESKTOP_DIR"), *home = getenv("HOME");
    int n = xdg && *xdg ? snprintf(dir, size, "%s", xdg) : home && *home ? snprintf(dir, size, "%s/Desktop", home) : -1;
    if (n < 0 || (size_t)n >= size) {
        dir[0] = '\0';
        return 0;
    }
    return 1;
}

int replaceFile(const char *from, const char *to) {
    return rename(from, to) == 0;
}

/* Gives path the owner and group in st, or the group alone where the owner
 * is not the process's to give; 1 when either was given. */
static int takeOwner(const char *path, const struct stat &st) {
    return chown(path, st.st_uid, st.st_gid) == 0 || chown(path, (uid_t)-1, st.st_gid) == 0;
}

int replaceKeepingAttributes(const char *from, const char *to) {
    struct stat st;
    if (stat(to, &st) == 0) {
        takeOwner(from, st);  // before the mode: a change of owner clears the set-id bits
        chmod(from, st.st_mode & 07777);
    }
    return replaceFile(from, to);
}

int moveToFreeName(const char *from, const char *to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 1;
    if (errno == EEXIST) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // a file system without renameat2: a new link fails where the name is taken
    if (link(from, to) != 0) return errno == EEXIST ? 0 : -1;
    unlink(from);
    return 1;
}

FILE *createNewFile(const char *path, int *taken) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (taken) *taken = fd < 0 && errno == EEXIST;
    FILE *f = fd < 0 ? NULL : fdopen(fd, "wb");
    if (fd >= 0 && !f) close(fd);
    return f;
}

int resolvedPath(const char *path, char *out, size_t size) {
    char *real = realpath(path, NULL);
    const char *chosen = real && strlen(real) < size ? real : path;
    size_t n = strlen(chosen);
    int fits = n < size;
    if (fits) memcpy(out, chosen, n + 1);
    else if (size) out[0] = '\0';
    free(real);
    return fits;
}

unsigned long processId(void) {
    return (unsigned long)getpid();
}

int64_t fileSize(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? (int64_t)st.st_size : -1;
}

int makeFolder(const char *path) {
    return mkdir(path, 0777) == 0;
}

/* 1 when every byte is ASCII, which reads the same in UTF-8 and GBK. */
static int isAscii(const char *text) {
    for (; *text; text++)
        if ((unsigned char)*text >= 0x80) return 0;
    return 1;
}

/* Converts with iconv, or copies when there is nothing to convert or the
 * text does not convert. */
static int recode(const char *from, const char *to, const char *text, char *out, size_t size) {
    size_t length = strlen(text), written = 0;
    if (!isAscii(text) && size > 0 && convertCharset(from, to, text, length, out, size - 1, &written) != -1) {
        out[written] = '\0';
        return 1;
    }
    if (length >= size) return 0;
    memcpy(out, text, length + 1);
    return 1;
}

int pathToText(const char *path, char *out, size_t size) {
    return recode("utf-8", "gbk", path, out, size);
}

int textToPath(const char *text, char *out, size_t size) {
    return recode("gbk", "utf-8", text, out, size);
}

int listFolder(const char *folder, void (*each)(void *context, const char *name), void *context) {
    DIR *dir = opendir(folder);
    if (!dir) return 0;
    for (struct dirent *entry; (entry = readdir(dir));)
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) each(context, entry->d_name);
    closedir(dir);
    return 1;
}

void localTimeOf(time_t t, struct tm *out) {
    localtime_r(&t, out);
}
