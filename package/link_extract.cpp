/* Image-address extraction; see link_extract.h.
 *
 * The fixed patterns are read by hand (link_scanner.h), which finds the
 * same matches as the regular-expression search in time linear in the
 * field, so no field can stall the load or exhaust the matcher. Any other
 * pattern is compiled for its scan and searched for with PCRE. Repeats are
 * told by a set of what the list holds, so a field with many addresses
 * costs no more per address than one with few. */
#include "link_extract.h"

#if LUMORA_PCRE
#include <pcre.h>
#endif
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "app_log.h"
#include "deployment.h"
#include "link_scanner.h"
#include "text_utils.h"

enum { LOG_MESSAGE_SIZE = 1024 };

const LinkPattern DESCRIPTION_PATTERNS[DESCRIPTION_PATTERN_COUNT] = {
    {"<img([ ]+[^>]+)?[ ]+src[ ]*=[ ]*[\"]+[ ]*((http[s]?:)?//[^\"]*)", 3, 2},
    {"<img([ ]+[^>]+)?[ ]+src[ ]*=[ ]*[']+[ ]*((http[s]?:)?//[^']*)", 3, 2},
    {"<img([ ]+[^>]+)?[ ]+src[ ]*=[ ]*((http[s]?:)?//[^ |>]*)", 3, 2},
    {"background[ ]*=[ ]*[\"]+[ ]*((http[s]?:)?//[^\"]*)", 2, 1},
    {"background[ ]*=[ ]*[']+[ ]*((http[s]?:)?//[^']*)", 2, 1},
    {"background[ ]*=[ ]*((http[s]?:)?//[^ |>]*)", 2, 1},
    {"background[ ]*:[ ]*url[ ]*\\([ ]*[\"]+[ ]*((http[s]?:)?//[^\"]*)", 2, 1},
    {"background[ ]*:[ ]*url[ ]*\\([ ]*[']+[ ]*((http[s]?:)?//[^']*)", 2, 1},
    {"background[ ]*:[ ]*url[ ]*\\([ ]*((http[s]?:)?//[^\\)]*)", 2, 1},
};

const LinkPattern MOBILE_PATTERN = {"<img[^>]*>((http[s]?:)?//[^<]*)</img>", 2, 1};

namespace {

/* Appends new addresses to a list, each once. */
struct Collector {
    PtrVector *list;
    int filtered;  // leave out skipped hosts and the blank image
    std::unordered_set<std::string> held;

    Collector(PtrVector *l, int f) : list(l), filtered(f) {
        for (int32_t i = 0; i < list->count; i++) held.insert((const char *)list->items[i]);
    }
    void collect(const char *start, size_t length);
};

#if LUMORA_PCRE
/* A compiled pattern; owns it. */
struct Regex {
    pcre *code = nullptr;
    Regex() = default;
    Regex(const Regex &) = delete;
    Regex &operator=(const Regex &) = delete;
    ~Regex() { pcre_free(code); }
};
#endif

}  // namespace

/* 1 when a description address is to be left where it is. */
static int isExcluded(const char *address) {
    for (const char *marker : SKIPPED_HOST_MARKERS)
        if (strstr(address, marker)) return 1;
    return strcmp(address, BLANK_IMAGE_URL) == 0;
}

void Collector::collect(const char *start, size_t length) {
    char *address = copyBytes(start, length);
    if (!address) return;
    if ((filtered && isExcluded(address)) || !held.insert(address).second) {
        free(address);
        return;
    }
    if (!ptrVectorPush(list, address)) {
        held.erase(address);
        free(address);
    }
}

/* The form a fixed pattern is read by; -1 for any other pattern. */
static int formOf(const char *pattern) {
    for (int i = 0; i < DESCRIPTION_PATTERN_COUNT; i++)
        if (strcmp(pattern, DESCRIPTION_PATTERNS[i].source) == 0) return i;
    return strcmp(pattern, MOBILE_PATTERN.source) == 0 ? MOBILE_FORM : -1;
}

static void scanForm(const FieldScanner &field, const char *text, int form, Collector &out) {
    for (const FormMatch &m : field.matches(form)) out.collect(text + m.addressStart, m.addressEnd - m.addressStart);
}

#if LUMORA_PCRE
/* Searches with a pattern of the caller's, compiled case-insensitively for
 * this scan. Returns 1, or 0 when it does not compile or the matcher fails
 * (logged). */
static int searchPattern(const char *text, size_t length, const char *pattern, int groups, int addressGroup,
                         Collector &out) {
    char message[LOG_MESSAGE_SIZE];
    const char *error = "";
    int offset = 0;
    Regex re;
    re.code = pcre_compile(pattern, PCRE_CASELESS, &error, &offset, NULL);
    if (!re.code) {
        snprintf(message, sizeof message, "PCRE compilation failed at offset %d: %s", offset, error);
        appendLog(message);
        return 0;
    }
    int subjectLength = length > (size_t)INT32_MAX ? INT32_MAX : (int)length;
    std::vector<int> offsets(3 * (size_t)(groups + 1));
    for (int start = 0; start <= subjectLength;) {
        int rc = pcre_exec(re.code, NULL, text, subjectLength, start, 0, offsets.data(), (int)offsets.size());
        if (rc == PCRE_ERROR_NOMATCH) return 1;
        if (rc < 0) {
            snprintf(message, sizeof message, "Matching error: %d", rc);
            appendLog(message);
            return 0;
        }
        int from = offsets[2 * addressGroup], to = offsets[2 * addressGroup + 1];
        if (rc > addressGroup && from >= 0) out.collect(text + from, (size_t)(to - from));
        // an empty match would otherwise be found again at the same place
        start = offsets[1] > offsets[0] ? offsets[1] : offsets[0] + 1;
    }
    return 1;
}
#else
/* A build without PCRE (the Windows one) reads the fixed patterns only. */
static int searchPattern(const char *, size_t, const char *, int, int, Collector &) {
    appendLog("PCRE compilation failed: no PCRE in this build");
    return 0;
}
#endif

int scanDescriptionPattern(const char *text, size_t length, PtrVector *list, const char *pattern,
                           int groups, int addressGroup) {
    Collector out(list, 1);
    int form = formOf(pattern);
    if (form < 0) return searchPattern(text, length, pattern, groups, addressGroup, out);
    scanForm(FieldScanner(text, length), text, form, out);
    return 1;
}

int extractDescriptionLinks(const char *text, size_t length, PtrVector *list) {
    FieldScanner field(text, length);
    Collector out(list, 1);
    for (int form = 0; form < DESCRIPTION_PATTERN_COUNT; form++) scanForm(field, text, form, out);
    return 1;
}

int extractMobileLinks(const char *text, size_t length, PtrVector *list) {
    Collector out(list, 0);
    scanForm(FieldScanner(text, length), text, MOBILE_FORM, out);
    return 1;
}
