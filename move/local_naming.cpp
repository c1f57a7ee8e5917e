/* Local image names; see local_naming.h. */
#include "local_naming.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <initializer_list>

#include "file_helpers.h"
#include "platform.h"
#include "url.h"

enum { EXTENSION_MAX = 7 };

int imageCounter = 1;

JobStartTime jobStartNow(void) {
    struct tm now;
    localTimeOf(time(NULL), &now);
    return {now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min};
}

const char *imageExtension(const char *url) {
    static const char *const KNOWN[] = {"jpg", "jpeg", "png", "gif", "bmp"};
    char candidate[EXTENSION_MAX + 1] = {0};
    if (!urlFileExtension(url, candidate, EXTENSION_MAX) || !candidate[0]) return "jpg";
    for (char *c = candidate; *c; c++)
        if (*c >= 'A' && *c <= 'Z') *c = (char)(*c - 'A' + 'a');
    for (const char *known : KNOWN)
        if (strcmp(candidate, known) == 0) return known;
    if (strstr(candidate, "jpg") || strstr(candidate, "jpeg")) return "jpg";
    for (const char *known : {"png", "gif", "bmp"})
        if (strstr(candidate, known)) return known;
    return "jpg";
}

namespace {

/* A listing's search for the highest number after the job's name prefix. */
struct NumberSearch {
    char prefix[64];  // "Y-M-D-h-m-"
    int highest;
};

}  // namespace

static void noteNumber(void *context, const char *name) {
    NumberSearch &s = *(NumberSearch *)context;
    if (strncmp(name, "m-", 2) == 0) name += 2;
    size_t n = strlen(s.prefix);
    if (strncmp(name, s.prefix, n) != 0 || !isdigit((unsigned char)name[n])) return;
    long number = strtol(name + n, NULL, 10);
    if (number > s.highest) s.highest = number < INT_MAX ? (int)number : INT_MAX;
}

int highestTakenNumber(const char *folder, const JobStartTime &start) {
    NumberSearch s;
    snprintf(s.prefix, sizeof s.prefix, "%d-%d-%d-%d-%d-", start.year, start.month, start.day, start.hour, start.minute);
    s.highest = 0;
    return listFolder(folder, noteNumber, &s) ? s.highest : INT_MAX;
}

int freeLocalPath(const char *folder, ImageKind kind, const JobStartTime &start, const char *extension,
                  int takenUpTo, char *out, size_t size) {
    for (;;) {
        int number = imageCounter++;
        int n = snprintf(out, size, "%s%c%s%d-%d-%d-%d-%d-%d.%s", folder, PATH_SEPARATOR,
                         kind == MOBILE_IMAGE ? "m-" : "", start.year, start.month, start.day, start.hour,
                         start.minute, number, extension);
        if (n < 0 || (size_t)n >= size) return 0;
        if (number > takenUpTo || !fileExists(out)) return 1;
    }
}
