/* Path text helpers; see paths.h. */
#include "paths.h"

#include <stdio.h>
#include <string.h>

#include "platform.h"

static const char SEPARATOR_TEXT[] = {PATH_SEPARATOR, '\0'};

/* 1 for a GBK lead byte, which with the byte after it makes one character. */
static int isLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

/* Windows takes "/" for "\\" in a path. */
static int isSeparator(char c) {
    return c == PATH_SEPARATOR || (PATH_SEPARATOR == '\\' && c == '/');
}

const char *lastSeparator(const char *path) {
    if (PATH_SEPARATOR != '\\') return strrchr(path, PATH_SEPARATOR);
    const char *last = NULL;
    for (const char *p = path; *p; p++) {
        if (isSeparator(*p)) last = p;
        else if (isLeadByte((unsigned char)*p) && p[1]) p++;
    }
    return last;
}

void useNativeSeparators(char *path) {
    // "/" is below every GBK trail byte, so it is always a character of its own
    for (char *p = path; *p; p++)
        if (isSeparator(*p)) *p = PATH_SEPARATOR;
}

const char *fileName(const char *path) {
    const char *sep = lastSeparator(path);
    return sep ? sep + 1 : path;
}

void cutAtLastSeparator(char *path) {
    char *sep = (char *)lastSeparator(path);
    if (!sep) return;
    int isRoot = sep == path || sep[-1] == ':';
    sep[isRoot ? 1 : 0] = '\0';
}

int joinPath(char *out, size_t size, const char *dir, const char *name) {
    size_t len = strlen(dir);
    const char *sep = len > 0 && isSeparator(dir[len - 1]) ? "" : SEPARATOR_TEXT;
    int n = snprintf(out, size, "%s%s%s", dir, sep, name);
    if (n < 0 || (size_t)n >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}
