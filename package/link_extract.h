/* Finding the image addresses in an item's description and mobile details.
 *
 * Regular expressions run over the raw CSV field (quotes included, inner
 * quotes doubled) as GBK bytes, case-insensitively. A description is scanned
 * with nine patterns (img src, background attribute, CSS background url; each
 * double-quoted, single-quoted and bare), mobile details with one pattern for
 * their img elements. Results go into a caller's list as heap strings owned
 * by the list, each address once, in the order of first finding. The fixed
 * patterns are compiled once for the life of the process, and tried only
 * where their lead word stands: the same matches as a search through the
 * whole field, found without one. */
#ifndef LUMORA_LINK_EXTRACT_H
#define LUMORA_LINK_EXTRACT_H

#include <stddef.h>

#include "ptr_vector.h"

struct LinkPattern {
    const char *source; /* the regular expression */
    int groups;         /* its number of capture groups */
    int addressGroup;   /* the group whose text is the address */
    const char *lead;   /* the word, lower case, that every match begins with */
};

enum { DESCRIPTION_PATTERN_COUNT = 9 };

extern const LinkPattern DESCRIPTION_PATTERNS[DESCRIPTION_PATTERN_COUNT];
extern const LinkPattern MOBILE_PATTERN;

/* Runs one description pattern over length bytes of text and appends the new
 * addresses to list, leaving out those on a skipped host and the blank image.
 * Returns 1, or 0 when the pattern does not compile or the matcher fails
 * (the reason is logged; addresses found before stay in the list). */
int scanDescriptionPattern(const char *text, size_t length, PtrVector *list, const char *pattern,
                           int groups, int addressGroup);

/* Runs the nine description patterns in order, stopping at the first failure.
 * Returns 1, or 0 on failure. */
int extractDescriptionLinks(const char *text, size_t length, PtrVector *list);

/* Runs the mobile details pattern; no address is left out. Returns 1, or 0 on
 * failure. */
int extractMobileLinks(const char *text, size_t length, PtrVector *list);

#endif
