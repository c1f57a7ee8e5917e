/* Finding the image addresses in an item's description and mobile details.
 *
 * Nine patterns read a description (img src, background attribute, CSS
 * background url; each double-quoted, single-quoted and bare), one pattern
 * the img elements of mobile details; they run over the raw CSV field
 * (quotes included, inner quotes doubled) as GBK bytes, case-insensitively.
 * Results go into a caller's list as heap strings owned by the list, each
 * address once, in the order of first finding. The fixed patterns are read
 * by a scanner of their own, in time linear in the field whatever it holds;
 * the regular expressions below say what it finds. */
#ifndef LUMORA_LINK_EXTRACT_H
#define LUMORA_LINK_EXTRACT_H

#include <stddef.h>

#include "ptr_vector.h"

struct LinkPattern {
    const char *source; /* the regular expression */
    int groups;         /* its number of capture groups */
    int addressGroup;   /* the group whose text is the address */
};

enum { DESCRIPTION_PATTERN_COUNT = 9 };

extern const LinkPattern DESCRIPTION_PATTERNS[DESCRIPTION_PATTERN_COUNT];
extern const LinkPattern MOBILE_PATTERN;

/* Runs one description pattern over length bytes of text and appends the new
 * addresses to list, leaving out those on a skipped host and the blank image.
 * A fixed pattern is read by the scanner; any other is compiled with PCRE.
 * Returns 1, or 0 when the pattern does not compile or the matcher fails
 * (the reason is logged; addresses found before stay in the list). */
int scanDescriptionPattern(const char *text, size_t length, PtrVector *list, const char *pattern,
                           int groups, int addressGroup);

/* Runs the nine description patterns in order. Returns 1. */
int extractDescriptionLinks(const char *text, size_t length, PtrVector *list);

/* Runs the mobile details pattern; no address is left out. Returns 1. */
int extractMobileLinks(const char *text, size_t length, PtrVector *list);

#endif
