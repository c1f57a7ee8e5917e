/* Hand reading of the fixed link forms; see link_scanner.h.
 *
 * At an "<img", the src pattern lets the attributes before src run up to
 * the first ">", and a backtracking matcher settles on the last " src"
 * there from which the rest reads: so the answer for every "<img" before
 * one ">" is that same last src, found once by reading back from the ">".
 * The mobile pattern likewise depends only on the first ">" after its
 * "<img". The other forms read straight on from their lead word. */
#include "link_scanner.h"

#include <string.h>

enum Lead { IMG_SRC, BACKGROUND_ATTRIBUTE, BACKGROUND_URL, MOBILE_ELEMENT };

static const size_t NONE = (size_t)-1;
static const size_t IMG_LENGTH = 4, BACKGROUND_LENGTH = 10;

/* How a form reads: its lead, the quote that opens its address (0: none)
 * and the bytes that end the address. */
struct FormShape {
    Lead lead;
    char quote;
    const char *stops;
};

/* What was worked out for the ">" that the last "<img" tried ran up to. */
struct FormCache {
    size_t gt = NONE;    // that ">" (or the end of the field)
    size_t low = NONE;   // every src from here up to gt is tried
    size_t best = NONE;  // the last of them that reads
    bool matched = false;
    FormMatch match = {0, 0, 0};
};

static const FormShape *shapeOf(int form);

FieldScanner::FieldScanner(const char *t, size_t n) : text(t), length(n), lowered(t, n) {
    for (char &c : lowered)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    for (size_t at = lowered.find("<img"); at != std::string::npos; at = lowered.find("<img", at + 1))
        imgStarts.push_back(at);
    for (size_t at = lowered.find("background"); at != std::string::npos; at = lowered.find("background", at + 1))
        backgroundStarts.push_back(at);
}

size_t FieldScanner::skipSpaces(size_t i) const {
    while (i < length && lowered[i] == ' ') i++;
    return i;
}

bool FieldScanner::holds(size_t i, const char *word) const {
    size_t n = strlen(word);
    return i <= length && length - i >= n && memcmp(lowered.data() + i, word, n) == 0;
}

/* From i: the opening quotes and blanks after them (when quoted), then
 * "http:", "https:" or nothing, then "//". Returns where the address
 * begins, or NONE. */
size_t FieldScanner::addressStart(size_t i, char quote) const {
    if (quote) {
        if (!is(i, quote)) return NONE;
        while (is(i, quote)) i++;
        i = skipSpaces(i);
    }
    size_t start = i;
    if (holds(i, "https:")) i += 6;
    else if (holds(i, "http:")) i += 5;
    return holds(i, "//") ? start : NONE;
}

size_t FieldScanner::addressEnd(size_t i, const char *stops) const {
    size_t stopCount = strlen(stops);
    while (i < length && !memchr(stops, text[i], stopCount)) i++;
    return i;
}

/* "src", blanks, "=", blanks, then the address; r is where "src" stands. */
size_t FieldScanner::srcAddress(size_t r, char quote) const {
    if (!holds(r, "src")) return NONE;
    size_t i = skipSpaces(r + 3);
    if (!is(i, '=')) return NONE;
    return addressStart(skipSpaces(i + 1), quote);
}

bool FieldScanner::imgSrcAt(const FormShape &shape, size_t p, FormCache &cache, FormMatch *m) const {
    size_t attributes = p + IMG_LENGTH;
    if (!is(attributes, ' ')) return false;
    const char *gtAt = (const char *)memchr(text + attributes, '>', length - attributes);
    size_t gt = gtAt ? (size_t)(gtAt - text) : length;
    if (gt != cache.gt) {
        cache = FormCache();
        cache.gt = cache.low = gt;
    }
    // "src" follows a blank at or after the one that opens the attributes
    while (cache.best == NONE && cache.low > attributes + 1) {
        size_t s = --cache.low;
        if (lowered[s - 1] == ' ' && srcAddress(s, shape.quote) != NONE) cache.best = s;
    }
    if (cache.best == NONE || cache.best < attributes + 1) return false;
    m->addressStart = srcAddress(cache.best, shape.quote);
    m->addressEnd = m->end = addressEnd(m->addressStart, shape.stops);
    return true;
}

bool FieldScanner::backgroundAt(const FormShape &shape, size_t p, FormMatch *m) const {
    size_t i = skipSpaces(p + BACKGROUND_LENGTH);
    if (shape.lead == BACKGROUND_URL) {
        if (!is(i, ':')) return false;
        i = skipSpaces(i + 1);
        if (!holds(i, "url")) return false;
        i = skipSpaces(i + 3);
        if (!is(i, '(')) return false;
    } else if (!is(i, '=')) {
        return false;
    }
    size_t start = addressStart(skipSpaces(i + 1), shape.quote);
    if (start == NONE) return false;
    m->addressStart = start;
    m->addressEnd = m->end = addressEnd(start, shape.stops);
    return true;
}

/* "<img", anything up to the first ">", the address, then "</img>". */
bool FieldScanner::elementAt(size_t p, FormCache &cache, FormMatch *m) const {
    const char *gtAt = (const char *)memchr(text + p + IMG_LENGTH, '>', length - p - IMG_LENGTH);
    if (!gtAt) return false;
    size_t gt = (size_t)(gtAt - text);
    if (gt != cache.gt) {
        cache = FormCache();
        cache.gt = gt;
        size_t start = addressStart(gt + 1, 0);
        size_t end = start == NONE ? length : addressEnd(start, "<");
        cache.matched = start != NONE && holds(end, "</img>");
        cache.match = {start, end, end + 6};
    }
    *m = cache.match;
    return cache.matched;
}

bool FieldScanner::matchAt(const FormShape &shape, size_t p, FormCache &cache, FormMatch *m) const {
    switch (shape.lead) {
    case IMG_SRC: return imgSrcAt(shape, p, cache, m);
    case MOBILE_ELEMENT: return elementAt(p, cache, m);
    default: return backgroundAt(shape, p, m);
    }
}

std::vector<FormMatch> FieldScanner::matches(int form) const {
    const FormShape &shape = *shapeOf(form);
    const std::vector<size_t> &starts =
        shape.lead == IMG_SRC || shape.lead == MOBILE_ELEMENT ? imgStarts : backgroundStarts;
    std::vector<FormMatch> found;
    FormCache cache;
    size_t from = 0;
    for (size_t p : starts) {
        FormMatch m;
        if (p < from || !matchAt(shape, p, cache, &m)) continue;
        found.push_back(m);
        from = m.end;
    }
    return found;
}

static const FormShape *shapeOf(int form) {
    static const FormShape SHAPES[FORM_COUNT] = {
        {IMG_SRC, '"', "\""},
        {IMG_SRC, '\'', "'"},
        {IMG_SRC, 0, " |>"},
        {BACKGROUND_ATTRIBUTE, '"', "\""},
        {BACKGROUND_ATTRIBUTE, '\'', "'"},
        {BACKGROUND_ATTRIBUTE, 0, " |>"},
        {BACKGROUND_URL, '"', "\""},
        {BACKGROUND_URL, '\'', "'"},
        {BACKGROUND_URL, 0, ")"},
        {MOBILE_ELEMENT, 0, "<"},
    };
    return &SHAPES[form];
}
