/* Which links a move takes, and the one order it takes them in.
 *
 * The options select links by their kind and host. A cursor hands out the
 * selected links of a run of items in the order a move made one image at a
 * time meets them: item by item, each item's description links, then its
 * mobile-details links. The job's walk, its queue of downloads ahead of the
 * walk and the front ends' progress figures all take links from such a
 * cursor, so that they cannot disagree on that order. */
#ifndef LUMORA_MOVE_OPTIONS_H
#define LUMORA_MOVE_OPTIONS_H

#include "local_naming.h"
#include "package_reader.h"

struct MoveOptions {
    int imageSpace;     /* move images from the marketplace's image space */
    int otherAlbums;    /* move images from other hosts' albums */
    int blankForFailed; /* replace images that failed to move by a blank image */
};

/* 1 when the options have a link of the kind moved: a description link by
 * its host (the marketplace's image space or another album), a
 * mobile-details link with the image space whatever its host. */
int linkSelected(const MoveOptions &options, const char *url, ImageKind kind);

/* A link as a cursor hands it out; url belongs to the item. */
struct SelectedLink {
    const char *url;
    ImageKind kind;
    int item;  /* the index of its item */
};

/* Where a walk over the selected links stands. The items are read, never
 * changed; the cursor owns nothing. */
struct LinkCursor {
    MoveOptions options;
    const PtrVector *items; /* ItemRecord; NULL for a cursor over one item alone */
    const ItemRecord *item; /* the item in hand; NULL at the end */
    int itemIndex;          /* its index */
    int end;                /* the index after the last item walked */
    int mobile;             /* 1 in the item's mobile-details links */
    int index;              /* the next link of that list */
};

/* A cursor over the items from first up to (not including) end. */
LinkCursor linkCursor(const MoveOptions &options, const PtrVector *items, int first, int end);

/* A cursor over the one item; its links count as item 0. */
LinkCursor itemLinkCursor(const MoveOptions &options, const ItemRecord *item);

/* Hands out the next selected link and returns 1; 0 at the end. */
int nextSelectedLink(LinkCursor *cursor, SelectedLink *link);

#endif
