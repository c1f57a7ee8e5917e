/* Rewriting the package text once the images are moved: every moved link
 * becomes its local path and, when asked, every failed link the blank image
 * (its mobile-details element "<img>link</img>" is removed first).
 *
 * Links are replaced longest first, so a link that stands inside another is
 * never half rewritten. The result is that of replacing one link after the
 * other through the whole text, but found in one pass over it: the cost
 * grows with the text plus the links, not with their product. */
#ifndef LUMORA_LINK_REWRITE_H
#define LUMORA_LINK_REWRITE_H

#include "str_map.h"

/* Called with each new whole percentage of links done (never 0). */
struct RewriteProgress {
    void (*report)(void *context, int percent);
    void *context;
};

/* Rewrites *text by movedImages (link to local path, "" for a failed link).
 * *text may be replaced by a new heap string (the old one is freed).
 * Returns 1 when the package changed: a link was replaced, or a failed link
 * was blanked. */
int rewriteLinks(char **text, const StrMap *movedImages, int blankForFailed, RewriteProgress progress);

/* The same by one whole-text replacement per link: the reference that
 * rewriteLinks equals, and what it falls back on when an inserted path
 * could itself be taken for a link. */
int rewriteLinksSequential(char **text, const StrMap *movedImages, int blankForFailed, RewriteProgress progress);

#endif
