/* Link rewrite; see link_rewrite.h.
 *
 * The one-pass rewrite finds every occurrence of every link in the original
 * text, then takes the links longest first, as the sequential rewrite does:
 * an occurrence is replaced when it lies wholly in text that no earlier
 * replacement took, and does not overlap the link's previous replacement.
 * That equals the sequential result as long as no link can be found in, or
 * across the edge of, what the replacements put in or took out; when one
 * could, the sequential rewrite is run instead. */
#include "link_rewrite.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "deployment.h"
#include "key_index.h"
#include "text_utils.h"

namespace {

enum Action { MOVE_TO_PATH, BLANK_OUT, LEAVE };

/* A link of the map with what becomes of it. */
struct Link {
    std::string url;
    const char *path;  // the local path, for MOVE_TO_PATH
    Action action;
};

/* A replacement in the original text: [start, end) becomes value. */
struct Edit {
    size_t start, end;
    const char *value;
};

/* Reports each new whole percentage as the links are taken one by one. */
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

/* The links of the map, longest first; links of equal length keep the map's
 * order. */
static std::vector<Link> orderedLinks(const StrMap *movedImages, int blankForFailed) {
    std::vector<Link> links;
    StrMapKey *keys = strMapKeys(movedImages);
    for (StrMapKey *k = keys; k; k = k->next) {
        const char *path = (const char *)strMapGet(movedImages, k->key);
        Action action = path && *path ? MOVE_TO_PATH : blankForFailed ? BLANK_OUT : LEAVE;
        links.push_back({k->key, path, action});
    }
    strMapFreeKeys(keys);
    std::stable_sort(links.begin(), links.end(),
                     [](const Link &a, const Link &b) { return a.url.size() > b.url.size(); });
    return links;
}

/* Replaces every occurrence of pattern in *text; 1 when there was one. */
static int replaceIn(char **text, const std::string &pattern, const char *replacement) {
    char *replaced = replaceAll(*text, pattern.c_str(), replacement);
    if (!replaced) return 0;
    free(*text);
    *text = replaced;
    return 1;
}

static int rewriteOneByOne(char **text, const std::vector<Link> &links, ProgressCounter &counter) {
    int changed = 0;
    for (const Link &link : links) {
        counter.step();
        if (link.action == MOVE_TO_PATH) {
            changed |= replaceIn(text, link.url, link.path);
        } else if (link.action == BLANK_OUT) {
            replaceIn(text, "<img>" + link.url + "</img>", "");
            replaceIn(text, link.url, BLANK_IMAGE_URL);
            changed = 1;
        }
    }
    return changed;
}

int rewriteLinksSequential(char **text, const StrMap *movedImages, int blankForFailed, RewriteProgress progress) {
    std::vector<Link> links = orderedLinks(movedImages, blankForFailed);
    ProgressCounter counter{progress, links.size()};
    return rewriteOneByOne(text, links, counter);
}

namespace {

/* The one-pass rewrite of one text. */
class OnePass {
public:
    OnePass(const char *t, size_t n, const std::vector<Link> &l) : text(t), length(n), links(l), taken(n) {}

    /* Decides every replacement; false when the result could differ from
     * the sequential one. */
    bool plan();
    /* The rewritten text, a new heap string (NULL when memory runs out). */
    char *build() const;
    int changed = 0;

private:
    void takeChain(const std::vector<size_t> &starts, size_t before, size_t after, const char *value);
    bool claim(size_t start, size_t end);
    bool valuesHoldNoLink(const KeyIndex &index) const;
    bool linksReachNoValue(const std::vector<std::string> &keys) const;
    bool joinsMakeNoLink(const KeyIndex &index) const;

    const char *text;
    size_t length;
    const std::vector<Link> &links;
    std::vector<bool> taken;  // bytes of the original text that a replacement took
    std::vector<Edit> edits;
};

/* Claims [start, end) unless a replacement took part of it already. */
bool OnePass::claim(size_t start, size_t end) {
    for (size_t i = start; i < end; i++)
        if (taken[i]) return false;
    std::fill(taken.begin() + (long)start, taken.begin() + (long)end, true);
    return true;
}

/* Replaces, left to right, the occurrences that are still whole and do not
 * overlap the previous one; before and after widen an occurrence to the
 * element around it. */
void OnePass::takeChain(const std::vector<size_t> &starts, size_t before, size_t after, const char *value) {
    size_t chainEnd = 0;
    for (size_t p : starts) {
        size_t start = p - before, end = p + after;
        if (start < chainEnd || !claim(start, end)) continue;
        edits.push_back({start, end, value});
        chainEnd = end;
    }
}

/* The occurrences of a link that stand as a mobile-details element. */
static std::vector<size_t> inElements(const char *text, size_t length, const std::vector<size_t> &starts,
                                      size_t linkLength) {
    std::vector<size_t> elements;
    for (size_t p : starts)
        if (p >= 5 && memcmp(text + p - 5, "<img>", 5) == 0 && p + linkLength + 6 <= length &&
            memcmp(text + p + linkLength, "</img>", 6) == 0)
            elements.push_back(p);
    return elements;
}

bool OnePass::plan() {
    std::vector<std::string> keys;
    std::vector<int> keyOf(links.size(), -1);
    for (size_t i = 0; i < links.size(); i++) {
        if (links[i].action == LEAVE) continue;
        keyOf[i] = (int)keys.size();
        keys.push_back(links[i].url);
    }
    KeyIndex index(keys);
    if (!index.usable()) return false;
    std::vector<std::vector<size_t>> starts(keys.size());
    index.occurrences(text, length, [&](int key, size_t start) { starts[(size_t)key].push_back(start); });
    for (size_t i = 0; i < links.size(); i++) {
        const Link &link = links[i];
        if (link.action == LEAVE) continue;
        const std::vector<size_t> &at = starts[(size_t)keyOf[i]];
        size_t before = edits.size(), n = link.url.size();
        if (link.action == BLANK_OUT) {
            takeChain(inElements(text, length, at, n), 5, n + 6, "");
            takeChain(at, 0, n, BLANK_IMAGE_URL);
        } else {
            takeChain(at, 0, n, link.path);
        }
        changed |= link.action == BLANK_OUT || edits.size() > before;
    }
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.start < b.start; });
    return valuesHoldNoLink(index) && linksReachNoValue(keys) && joinsMakeNoLink(index);
}

/* The distinct texts that replacements put in (the removals put in none). */
static std::vector<const char *> insertedValues(const std::vector<Edit> &edits) {
    std::vector<const char *> values;
    for (const Edit &e : edits)
        if (*e.value) values.push_back(e.value);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

/* No link lies in a value or begins in one and runs on past its end, and no
 * value holds a part of a mobile-details element's tags. */
bool OnePass::valuesHoldNoLink(const KeyIndex &index) const {
    for (const char *value : insertedValues(edits)) {
        size_t n = strlen(value);
        bool found = strpbrk(value, "<>") != NULL;
        index.occurrences(value, n, [&](int, size_t) { found = true; });
        for (size_t i = 0; i < n && !found; i++)
            found = index.mayStartKey(value + i, n - i) && index.prefixOfSomeKey(value + i, n - i);
        if (found) return false;
    }
    return true;
}

/* true when some key, from its second byte on, holds all of s or ends with
 * a beginning of s: it could start before an inserted value that begins
 * with s and run into it. */
static bool reachesInto(const std::vector<std::string> &keys, const std::string &s) {
    if (s.empty()) return true;
    std::vector<size_t> border(s.size() + 1, 0);  // failure function of s
    for (size_t i = 1, k = 0; i < s.size(); i++) {
        while (k > 0 && s[i] != s[k]) k = border[k];
        if (s[i] == s[k]) k++;
        border[i + 1] = k;
    }
    for (const std::string &key : keys) {
        size_t state = 0;
        for (size_t j = 1; j < key.size(); j++) {
            while (state > 0 && key[j] != s[state]) state = border[state];
            if (key[j] == s[state]) state++;
            if (state == s.size()) return true;
        }
        if (state > 0) return true;
    }
    return false;
}

/* No link can start before an inserted value and run into it. Every local
 * path begins with what all of them begin with, so that is what is sought. */
bool OnePass::linksReachNoValue(const std::vector<std::string> &keys) const {
    std::string common;
    bool anyPath = false, anyBlank = false;
    for (const char *value : insertedValues(edits)) {
        if (value == BLANK_IMAGE_URL) {
            anyBlank = true;
            continue;
        }
        size_t n = 0;
        if (!anyPath) common = value;
        while (n < common.size() && common[n] == value[n]) n++;
        common.resize(n);
        anyPath = true;
    }
    return !(anyPath && reachesInto(keys, common)) && !(anyBlank && reachesInto(keys, BLANK_IMAGE_URL));
}

/* Where an element was taken out, the text on either side meets: no link,
 * nor a link's element tags, may span that seam. */
bool OnePass::joinsMakeNoLink(const KeyIndex &index) const {
    size_t reach = index.longest() + 6;
    for (size_t i = 0; i < edits.size(); i++) {
        const Edit &e = edits[i];
        if (*e.value) continue;
        size_t left = e.start > reach ? e.start - reach : 0, right = std::min(length, e.end + reach);
        if ((i > 0 && edits[i - 1].end > left) || (i + 1 < edits.size() && edits[i + 1].start < right)) return false;
        std::string seam = std::string(text + left, e.start - left) + std::string(text + e.end, right - e.end);
        size_t at = e.start - left;
        bool spans = false;
        index.occurrences(seam.data(), seam.size(), [&](int key, size_t p) {
            size_t n = index.keyLength(key);
            spans = spans || (p < at + 5 && p + n + 6 > at);
        });
        if (spans) return false;
    }
    return true;
}

char *OnePass::build() const {
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

}  // namespace

int rewriteLinks(char **text, const StrMap *movedImages, int blankForFailed, RewriteProgress progress) {
    std::vector<Link> links = orderedLinks(movedImages, blankForFailed);
    ProgressCounter counter{progress, links.size()};
    OnePass pass(*text, strlen(*text), links);
    char *rewritten = pass.plan() ? pass.build() : NULL;
    if (!rewritten) return rewriteOneByOne(text, links, counter);
    for (size_t i = 0; i < links.size(); i++) counter.step();
    free(*text);
    *text = rewritten;
    return pass.changed;
}
