/* Rewriting the package text once the images are moved: at every place
 * where the load found a link that the options select, a moved link becomes
 * its local path and, when asked, a failed link the blank image (a failed
 * mobile-details link's img element goes whole).
 *
 * Only the places that the load recorded are replaced, so the rewrite never
 * touches a byte that is not a link and never disagrees with the load on
 * where a link stands; the text is not searched. Where two places overlap
 * (a link read inside another by a second form), the first to change takes
 * its bytes: the one that begins first, or the longer of two that begin
 * together. The text is read once and written once. */
#ifndef LUMORA_LINK_REWRITE_H
#define LUMORA_LINK_REWRITE_H

#include "move_options.h"
#include "ptr_vector.h"
#include "str_map.h"

/* Called with each new whole percentage of places done (never 0). */
struct RewriteProgress {
    void (*report)(void *context, int percent);
    void *context;
};

/* Rewrites *text, loaded with items (ItemRecord), by movedImages (link to
 * local path, "" for a failed link) and the job's options. *text may be
 * replaced by a new heap string (the old one is freed). Returns 1 when the
 * package changed: a place was replaced. With no link in movedImages
 * nothing is reported and nothing changes. */
int rewriteLinks(char **text, const PtrVector *items, const StrMap *movedImages, const MoveOptions &options,
                 RewriteProgress progress);

#endif
