/* Rewriting the package text once the images are moved: every moved link
 * becomes its local path and, when asked, every failed link the blank image
 * (its mobile-details element "<img>link</img>" is removed first).
 *
 * A link is replaced only where it stands whole: after a byte that can open
 * a link in the forms link extraction reads (a quote, a blank, ">", "(", or
 * the "=" of an attribute) and before one that can close it (a quote, a
 * blank, "|", ">", "<" or ")"). So "x.jpg" is not replaced inside
 * "x.jpg_400x400.jpg", nor "//h/x" inside "http://h/x", whether or not the
 * longer link moved. Where whole occurrences overlap, the longer link wins.
 * The text is read once and written once: the cost grows with the text
 * plus the links, whatever they hold. */
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

#endif
