/* The links a move takes; see move_options.h. */
#include "move_options.h"

#include <string.h>

#include "deployment.h"

int linkSelected(const MoveOptions &o, const char *url, ImageKind kind) {
    if (kind == MOBILE_IMAGE) return o.imageSpace;
    int market = 0;
    for (const char *marker : MARKET_HOST_MARKERS) market |= strstr(url, marker) != NULL;
    return market ? o.imageSpace : o.otherAlbums;
}

/* The item at index, or NULL past the cursor's end. */
static const ItemRecord *itemAt(const LinkCursor &c, int index) {
    return index < c.end ? (const ItemRecord *)c.items->items[index] : NULL;
}

LinkCursor linkCursor(const MoveOptions &options, const PtrVector *items, int first, int end) {
    LinkCursor c = {options, items, NULL, first, end < items->count ? end : items->count, 0, 0};
    c.item = first >= 0 ? itemAt(c, first) : NULL;
    return c;
}

LinkCursor itemLinkCursor(const MoveOptions &options, const ItemRecord *item) {
    return {options, NULL, item, 0, 1, 0, 0};
}

int nextSelectedLink(LinkCursor *c, SelectedLink *link) {
    while (c->item) {
        const PtrVector *list = c->mobile ? c->item->mobileLinks : c->item->descLinks;
        if (list && c->index < list->count) {
            *link = {(const char *)list->items[c->index++], c->mobile ? MOBILE_IMAGE : DESCRIPTION_IMAGE, c->itemIndex};
            if (linkSelected(c->options, link->url, link->kind)) return 1;
            continue;
        }
        c->index = 0;
        c->mobile = !c->mobile;
        if (!c->mobile) c->item = itemAt(*c, ++c->itemIndex);
    }
    return 0;
}
