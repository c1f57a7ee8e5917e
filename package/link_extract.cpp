/* Image-address extraction; see link_extract.h.
 *
 * A search from some offset finds the match that begins at the first place
 * where one can begin. Every match of a fixed pattern begins with its lead
 * word, so the places where the word stands (found once per field, in a
 * lower-cased copy) are the only ones to try; the fixed patterns are
 * compiled anchored and tried there in order, which gives the same matches
 * as the search. A pattern that is not one of the fixed ones is compiled for
 * its scan and searched for. */
#include "link_extract.h"

#include <pcre.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "deployment.h"
#include "text_utils.h"

enum { LOG_MESSAGE_SIZE = 1024 };

const LinkPattern DESCRIPTION_PATTERNS[DESCRIPTION_PATTERN_COUNT] = {
    {"<img([ ]+[^>]+)?[ ]+src[ ]*=[ ]*[\"]+[ ]*((http[s]?:)?//[^\"]*)", 3, 2, "<img"},
    {"<img([ ]+[^>]+)?[ ]+src[ ]*=[ ]*[']+[ ]*((http[s]?:)?//[^']*)", 3, 2, "<img"},
    {"<img([ ]+[^>]+)?[ ]+src[ ]*=[ ]*((http[s]?:)?//[^ |>]*)", 3, 2, "<img"},
    {"background[ ]*=[ ]*[\"]+[ ]*((http[s]?:)?//[^\"]*)", 2, 1, "background"},
    {"background[ ]*=[ ]*[']+[ ]*((http[s]?:)?//[^']*)", 2, 1, "background"},
    {"background[ ]*=[ ]*((http[s]?:)?//[^ |>]*)", 2, 1, "background"},
    {"background[ ]*:[ ]*url[ ]*\\([ ]*[\"]+[ ]*((http[s]?:)?//[^\"]*)", 2, 1, "background"},
    {"background[ ]*:[ ]*url[ ]*\\([ ]*[']+[ ]*((http[s]?:)?//[^']*)", 2, 1, "background"},
    {"background[ ]*:[ ]*url[ ]*\\([ ]*((http[s]?:)?//[^\\)]*)", 2, 1, "background"},
};

const LinkPattern MOBILE_PATTERN = {"<img[^>]*>((http[s]?:)?//[^<]*)</img>", 2, 1, "<img"};

namespace {

/* A compiled and studied pattern, with its machine code where the library
 * can make it; owns both. */
struct Regex {
    pcre *code = nullptr;
    pcre_extra *extra = nullptr;
    Regex() = default;
    Regex(const Regex &) = delete;
    Regex &operator=(const Regex &) = delete;
    ~Regex() {
        pcre_free_study(extra);
        pcre_free(code);
    }
    /* Compiles source case-insensitively, with the extra options; logs and
     * returns 0 on failure. */
    int compile(const char *source, int options) {
        const char *error = "";
        int offset = 0;
        code = pcre_compile(source, PCRE_CASELESS | options, &error, &offset, NULL);
        if (!code) {
            char message[LOG_MESSAGE_SIZE];
            snprintf(message, sizeof message, "PCRE compilation failed at offset %d: %s", offset, error);
            appendLog(message);
            return 0;
        }
        extra = pcre_study(code, PCRE_STUDY_JIT_COMPILE, &error);
        return 1;
    }
};

/* The fixed patterns, compiled anchored at first use. */
struct FixedPatterns {
    Regex description[DESCRIPTION_PATTERN_COUNT];
    Regex mobile;
    FixedPatterns() {
        for (int i = 0; i < DESCRIPTION_PATTERN_COUNT; i++)
            description[i].compile(DESCRIPTION_PATTERNS[i].source, PCRE_ANCHORED);
        mobile.compile(MOBILE_PATTERN.source, PCRE_ANCHORED);
    }
    /* The compiled form of a fixed pattern and its table entry; NULL when
     * source is not one of them. */
    const Regex *find(const char *source, const LinkPattern **entry) const {
        for (int i = 0; i < DESCRIPTION_PATTERN_COUNT; i++) {
            if (strcmp(source, DESCRIPTION_PATTERNS[i].source) == 0 && description[i].code) {
                *entry = &DESCRIPTION_PATTERNS[i];
                return &description[i];
            }
        }
        *entry = &MOBILE_PATTERN;
        return strcmp(source, MOBILE_PATTERN.source) == 0 && mobile.code ? &mobile : nullptr;
    }
};

/* Folds the ASCII letters of n bytes to lower case; branch-free, so that the
 * compiler can run it vectorised. */
static void lowerAscii(const unsigned char *__restrict in, unsigned char *__restrict out, size_t n) {
    for (size_t i = 0; i < n; i++) out[i] = (unsigned char)(in[i] | ((unsigned char)(in[i] - 'A') < 26u) << 5);
}

/* A field to scan, with the places where each lead word begins. */
struct Subject {
    const char *text;
    int length;
    std::string lowered;  // ASCII letters folded, as the matcher folds them
    std::vector<int> imgStarts, backgroundStarts;

    Subject(const char *t, size_t n) : text(t), length(n > (size_t)INT32_MAX ? INT32_MAX : (int)n) {
        lowered.resize((size_t)length);
        lowerAscii((const unsigned char *)text, (unsigned char *)&lowered[0], (size_t)length);
        imgStarts = wordStarts("<img");
        backgroundStarts = wordStarts("background");
    }
    std::vector<int> wordStarts(const std::string &word) const {
        std::vector<int> starts;
        for (size_t at = lowered.find(word); at != std::string::npos; at = lowered.find(word, at + 1))
            starts.push_back((int)at);
        return starts;
    }
    /* The places to try a pattern with this lead word. */
    const std::vector<int> &startsOf(const char *lead) const {
        return strcmp(lead, "<img") == 0 ? imgStarts : backgroundStarts;
    }
};

}  // namespace

static const Regex *fixedPattern(const char *source, const LinkPattern **entry) {
    static const FixedPatterns patterns;
    return patterns.find(source, entry);
}

/* 1 when a description address is to be left where it is. */
static int isExcluded(const char *address) {
    for (const char *marker : SKIPPED_HOST_MARKERS)
        if (strstr(address, marker)) return 1;
    return strcmp(address, BLANK_IMAGE_URL) == 0;
}

/* Appends a copy of the address unless the list holds it already. */
static void collect(PtrVector *list, const char *start, size_t length, int filtered) {
    char *address = copyBytes(start, length);
    if (!address) return;
    if ((filtered && isExcluded(address)) || ptrVectorContains(list, address, stringEquals) ||
        !ptrVectorPush(list, address))
        free(address);
}

/* Logs a matcher failure; returns 0 for the scan. */
static int matchingError(int rc) {
    char message[LOG_MESSAGE_SIZE];
    snprintf(message, sizeof message, "Matching error: %d", rc);
    appendLog(message);
    return 0;
}

/* One attempt of the matcher from offset at. The compiled code runs on a
 * small stack of its own; an attempt that outgrows it is run again by the
 * interpreter, which gives the same match. */
static int match(const Regex *re, const Subject &s, int at, std::vector<int> &offsets) {
    int rc = pcre_exec(re->code, re->extra, s.text, s.length, at, 0, offsets.data(), (int)offsets.size());
    if (rc != PCRE_ERROR_JIT_STACKLIMIT || !re->extra) return rc;
    pcre_extra interpreted = *re->extra;
    interpreted.flags &= ~(unsigned long)PCRE_EXTRA_EXECUTABLE_JIT;
    return pcre_exec(re->code, &interpreted, s.text, s.length, at, 0, offsets.data(), (int)offsets.size());
}

/* One scan of one pattern over the subject; see scanDescriptionPattern.
 * starts lists the places to try an anchored pattern, or is NULL to search. */
static int scan(const Subject &s, PtrVector *list, const Regex *re, int groups, int addressGroup,
                const std::vector<int> *starts, int filtered) {
    std::vector<int> offsets(3 * (size_t)(groups + 1));
    size_t next = 0;
    for (int start = 0;;) {
        int at = start;
        if (starts) {
            while (next < starts->size() && (*starts)[next] < start) next++;
            if (next == starts->size()) return 1;
            at = (*starts)[next++];
        }
        int rc = match(re, s, at, offsets);
        if (rc == PCRE_ERROR_NOMATCH && starts) continue;
        if (rc == PCRE_ERROR_NOMATCH) return 1;
        if (rc < 0) return matchingError(rc);
        int from = offsets[2 * addressGroup], to = offsets[2 * addressGroup + 1];
        if (rc > addressGroup && from >= 0) collect(list, s.text + from, (size_t)(to - from), filtered);
        // an empty match would otherwise be found again at the same place
        start = offsets[1] > offsets[0] ? offsets[1] : offsets[0] + 1;
        if (start > s.length) return 1;
    }
}

/* Scans with a fixed pattern where it has one, else compiles the pattern. */
static int scanPattern(const Subject &s, PtrVector *list, const char *pattern, int groups, int addressGroup,
                       int filtered) {
    const LinkPattern *entry = NULL;
    const Regex *fixed = fixedPattern(pattern, &entry);
    if (fixed) return scan(s, list, fixed, groups, addressGroup, &s.startsOf(entry->lead), filtered);
    Regex own;
    if (!own.compile(pattern, 0)) return 0;
    return scan(s, list, &own, groups, addressGroup, NULL, filtered);
}

int scanDescriptionPattern(const char *text, size_t length, PtrVector *list, const char *pattern,
                           int groups, int addressGroup) {
    return scanPattern(Subject(text, length), list, pattern, groups, addressGroup, 1);
}

int extractDescriptionLinks(const char *text, size_t length, PtrVector *list) {
    Subject s(text, length);
    for (const LinkPattern &p : DESCRIPTION_PATTERNS)
        if (!scanPattern(s, list, p.source, p.groups, p.addressGroup, 1)) return 0;
    return 1;
}

int extractMobileLinks(const char *text, size_t length, PtrVector *list) {
    const LinkPattern &p = MOBILE_PATTERN;
    return scanPattern(Subject(text, length), list, p.source, p.groups, p.addressGroup, 0);
}
