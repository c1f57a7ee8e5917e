/* Local image names; see local_naming.h. */
#include "local_naming.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <initializer_list>

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

/* The number after prefix in a name that starts at name, "m-" allowed
 * before the prefix; 0 when the name is not of that form. */
static int numberAfterPrefix(const char *name, const char *prefix) {
    if (strncmp(name, "m-", 2) == 0) name += 2;
    size_t n = strlen(prefix);
    if (strncmp(name, prefix, n) != 0 || !isdigit((unsigned char)name[n])) return 0;
    long number = strtol(name + n, NULL, 10);
    return number < INT_MAX ? (int)number : INT_MAX;
}

namespace {

/* A search for the highest number after the job's name prefix. */
struct NumberSearch {
    char prefix[64];  // "Y-M-D-h-m-"
    int highest;
};

}  // namespace

static void noteNumber(void *context, const char *name) {
    NumberSearch &s = *(NumberSearch *)context;
    int number = numberAfterPrefix(name, s.prefix);
    if (number > s.highest) s.highest = number;
}

/* Notes the number of every name of the job's form that the text holds
 * after a separator, as a local path in the package does. */
static void noteNamesInText(NumberSearch &s, const char *text) {
    for (const char *at = strstr(text, s.prefix); at; at = strstr(at + 1, s.prefix)) {
        const char *name = at - text >= 2 && strncmp(at - 2, "m-", 2) == 0 ? at - 2 : at;
        if (name > text && (name[-1] == '/' || name[-1] == '\\')) noteNumber(&s, name);
    }
}

int highestTakenNumber(const char *folder, const char *packageText, const JobStartTime &start) {
    NumberSearch s;
    snprintf(s.prefix, sizeof s.prefix, "%d-%d-%d-%d-%d-", start.year, start.month, start.day, start.hour, start.minute);
    s.highest = 0;
    listFolder(folder, noteNumber, &s);
    if (packageText) noteNamesInText(s, packageText);
    return s.highest;
}

int freeLocalPath(const char *folder, ImageKind kind, const JobStartTime &start, const char *extension,
                  int takenUpTo, char *out, size_t size) {
    if (imageCounter <= takenUpTo) imageCounter = takenUpTo < INT_MAX ? takenUpTo + 1 : INT_MAX;  // gaps stay gaps
    for (int taken = 1; taken && imageCounter < INT_MAX;) {
        int number = imageCounter++;
        int n = snprintf(out, size, "%s%c%s%d-%d-%d-%d-%d-%d.%s", folder, PATH_SEPARATOR,
                         kind == MOBILE_IMAGE ? "m-" : "", start.year, start.month, start.day, start.hour,
                         start.minute, number, extension);
        if (n < 0 || (size_t)n >= size) break;
        FILE *claim = createNewFile(out, &taken);
        if (!claim) continue;
        fclose(claim);  // nothing was written to fail
        return 1;
    }
    if (size) out[0] = '\0';
    return 0;
}
