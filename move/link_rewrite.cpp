/* Link rewrite; see link_rewrite.h.
 *
 * The places of all items are put in text order, each is turned into an
 * edit (or none) by the map and the options, edits that would overlap one
 * taken before are dropped, and the new text is written in one go. */
#include "link_rewrite.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "deployment.h"
#include "package_reader.h"

namespace {

/* A replacement in the original text: [start, end) becomes value. */
struct Edit {
    size_t start, end;
    const char *value;
};

/* Reports each new whole percentage as the places are taken one by one. */
struct ProgressCounter {
    RewriteProgress progress;
    size_t total, done = 0;
    int shown = 0;
    void step() {
        int percent = (int)(++done * 100 / total);
        if (percent != shown && progress.report) progress.report(progress.context, percent);
        shown = percent;
    }
};

}  // namespace

/* The places of every item, in text order; of two that begin together the
 * longer first. */
static std::vector<const LinkPlace *> placesInOrder(const PtrVector *items) {
    std::vector<const LinkPlace *> places;
    for (int32_t i = 0; i < items->count; i++) {
        const LinkPlaces *own = ((const ItemRecord *)items->items[i])->places;
        if (own)
            for (const LinkPlace &p : *own) places.push_back(&p);
    }
    std::sort(places.begin(), places.end(), [](const LinkPlace *a, const LinkPlace *b) {
        return a->start != b->start ? a->start < b->start : a->end > b->end;
    });
    return places;
}

/* What becomes of the place: 1 with its edit, 0 when it stays. */
static int editFor(const LinkPlace &p, const StrMap *movedImages, const MoveOptions &options, Edit *edit) {
    const char *path = (const char *)strMapGet(movedImages, p.url);
    if (!path || !linkSelected(options, p.url, p.mobile ? MOBILE_IMAGE : DESCRIPTION_IMAGE)) return 0;
    if (*path) *edit = {p.start, p.end, path};
    else if (!options.blankForFailed) return 0;
    else if (p.elementStart != p.start) *edit = {p.elementStart, p.elementEnd, ""};
    else *edit = {p.start, p.end, BLANK_IMAGE_URL};
    return 1;
}

/* The text with the edits (in text order, none overlapping) made: a new
 * heap string, or NULL when memory runs out. */
static char *applyEdits(const char *text, size_t length, const std::vector<Edit> &edits) {
    size_t size = length;
    for (const Edit &e : edits) size = size - (e.end - e.start) + strlen(e.value);
    char *out = (char *)malloc(size + 1);
    if (!out) return NULL;
    char *w = out;
    size_t from = 0;
    for (const Edit &e : edits) {
        memcpy(w, text + from, e.start - from);
        w += e.start - from;
        size_t n = strlen(e.value);
        memcpy(w, e.value, n);
        w += n;
        from = e.end;
    }
    memcpy(w, text + from, length - from);
    w[length - from] = '\0';
    return out;
}

int rewriteLinks(char **text, const PtrVector *items, const StrMap *movedImages, const MoveOptions &options,
                 RewriteProgress progress) {
    if (movedImages->entryCount == 0) return 0;
    std::vector<const LinkPlace *> places = placesInOrder(items);
    ProgressCounter counter{progress, places.size()};
    std::vector<Edit> edits;
    size_t taken = 0;  // the end of the last edit
    for (const LinkPlace *p : places) {
        counter.step();
        Edit edit;
        if (editFor(*p, movedImages, options, &edit) && edit.start >= taken) {
            edits.push_back(edit);
            taken = edit.end;
        }
    }
    if (edits.empty()) return 0;
    char *rewritten = applyEdits(*text, strlen(*text), edits);
    if (!rewritten) return 0;  // out of memory: the package stays as it was
    free(*text);
    *text = rewritten;
    return 1;
}
