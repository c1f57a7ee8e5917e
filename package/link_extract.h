/* Finding the image addresses in an item's description and mobile details,
 * and where each of them stands in the package text.
 *
 * A description is read in nine forms (img src, background attribute, CSS
 * background url; each double-quoted, single-quoted and bare), mobile
 * details in one (img elements whose text is the address); each runs over
 * the raw CSV field (quotes included, inner quotes doubled) as GB18030 text,
 * letters in any case (link_scanner.h). Results go into a caller's list as
 * heap strings owned by the list, each address once, in the order of first
 * finding; every place where an address was found goes into the caller's
 * places, which is all the rewrite of the package ever replaces. */
#ifndef LUMORA_LINK_EXTRACT_H
#define LUMORA_LINK_EXTRACT_H

#include <stddef.h>

#include <vector>

#include "ptr_vector.h"

/* One place where a link stands in the package text. */
struct LinkPlace {
    size_t start, end;                /* the link's bytes */
    size_t elementStart, elementEnd;  /* a mobile link's img element, which goes when its image failed and the
                                         blank image is asked for; else the link's bytes, which the blank image
                                         then takes */
    const char *url;                  /* the list's copy of the link */
    int mobile;                       /* 1 for a link of the mobile details */
};
typedef std::vector<LinkPlace> LinkPlaces;

/* Runs the nine description forms over length bytes of text, which stands
 * at offset in the package text, and appends the new addresses to list,
 * leaving out those on a skipped host and the blank image; the place of
 * every address taken is appended to places. Returns 1. */
int extractDescriptionLinks(const char *text, size_t length, size_t offset, PtrVector *list, LinkPlaces *places);

/* The same with the mobile details form; only the blank image is left out.
 * Returns 1. */
int extractMobileLinks(const char *text, size_t length, size_t offset, PtrVector *list, LinkPlaces *places);

#endif
