/* Hand reading of the fixed link forms; see link_scanner.h.
 *
 * At an "<img", the src attributes are those that follow a blank after
 * "<img " and stand before the first ">"; every one of them that reads as
 * an address is taken, so a tag with two src attributes gives both, and
 * every "<img" before the same ">" shares them. The mobile element depends
 * only on the first ">" after its "<img". The other forms read straight on
 * from their lead word. */
#include "link_scanner.h"

#include <string.h>

#include "text_utils.h"

enum Lead { IMG_SRC, BACKGROUND_ATTRIBUTE, BACKGROUND_URL, MOBILE_ELEMENT };

static const size_t NONE = (size_t)-1;
static const size_t IMG_LENGTH = 4, BACKGROUND_LENGTH = 10, ELEMENT_CLOSE_LENGTH = 6;

/* How a form reads: its lead, the quote that opens its address (0: none),
 * the bytes besides a double quote, TAB and line break that end the address
 * (in a description always "<" and ">" too, so that putting a path in place
 * of a link never takes away the start or the end of a tag), and whether
 * blanks before its end are left out of it. */
struct FormShape {
    Lead lead;
    char quote;
    const char *stops;
    bool trimsBlanks;
};

static const FormShape *shapeOf(int form);

static inline unsigned char lowered(char c) {
    return (unsigned char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

FieldScanner::FieldScanner(const char *t, size_t n) : text(t), length(n) {
    for (size_t at = 0; at < length; at++) {
        unsigned char c = (unsigned char)text[at];
        if (c == '<' && holds(at, "<img")) imgStarts.push_back(at);
        else if ((c == 'b' || c == 'B') && holds(at, "background")) backgroundStarts.push_back(at);
    }
}

size_t FieldScanner::skipSpaces(size_t i) const {
    while (i < length && text[i] == ' ') i++;
    return i;
}

/* 1 when the word (lower case) stands at i, in any letter case. */
bool FieldScanner::holds(size_t i, const char *word) const {
    for (; *word; i++, word++)
        if (i >= length || lowered(text[i]) != (unsigned char)*word) return false;
    return true;
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

static inline bool endsAddress(unsigned char c, const char *stops) {
    return c == '"' || c == '\t' || c == '\r' || c == '\n' || (c && strchr(stops, c));
}

size_t FieldScanner::addressEnd(size_t i, const FormShape &shape) const {
    size_t start = i;
    while (i < length) {
        size_t n = charLength(text + i, length - i);
        if (n == 1 && endsAddress((unsigned char)text[i], shape.stops)) break;
        i += n;
    }
    while (shape.trimsBlanks && i > start && text[i - 1] == ' ') i--;
    return i;
}

/* "src", blanks, "=", blanks, then the address; r is where "src" stands. */
size_t FieldScanner::srcAddress(size_t r, char quote) const {
    if (!holds(r, "src")) return NONE;
    size_t i = skipSpaces(r + 3);
    if (!is(i, '=')) return NONE;
    return addressStart(skipSpaces(i + 1), quote);
}

/* Takes every src of the "<img" at p that reads and begins at or after
 * from; lastGt is the ">" whose srcs were taken last. */
void FieldScanner::imgSrcs(const FormShape &shape, size_t p, size_t &from, size_t &lastGt,
                           std::vector<FormMatch> &out) const {
    size_t attributes = p + IMG_LENGTH;
    if (!is(attributes, ' ')) return;
    const char *gtAt = (const char *)memchr(text + attributes, '>', length - attributes);
    size_t gt = gtAt ? (size_t)(gtAt - text) : length;
    if (gt == lastGt) return;  // an earlier "<img" before this ">" took them
    lastGt = gt;
    for (size_t s = attributes + 1; s < gt; s++) {
        size_t start = s >= from && text[s - 1] == ' ' ? srcAddress(s, shape.quote) : NONE;
        if (start == NONE) continue;
        size_t end = addressEnd(start, shape);
        out.push_back({p, start, end, end});
        from = s = end;
    }
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
    *m = {p, start, addressEnd(start, shape), 0};
    m->end = m->addressEnd;
    return true;
}

/* "<img", anything up to the first ">", the address, then "</img>". */
bool FieldScanner::elementAt(size_t p, size_t &failedGt, FormMatch *m) const {
    const char *gtAt = (const char *)memchr(text + p + IMG_LENGTH, '>', length - p - IMG_LENGTH);
    if (!gtAt || (size_t)(gtAt - text) == failedGt) return false;
    size_t gt = (size_t)(gtAt - text), start = addressStart(gt + 1, 0);
    size_t end = start == NONE ? NONE : addressEnd(start, *shapeOf(MOBILE_FORM));
    if (end == NONE || !holds(end, "</img>")) {
        failedGt = gt;  // every "<img" before this ">" fails alike
        return false;
    }
    *m = {p, start, end, end + ELEMENT_CLOSE_LENGTH};
    return true;
}

std::vector<FormMatch> FieldScanner::matches(int form) const {
    const FormShape &shape = *shapeOf(form);
    const std::vector<size_t> &starts =
        shape.lead == IMG_SRC || shape.lead == MOBILE_ELEMENT ? imgStarts : backgroundStarts;
    std::vector<FormMatch> found;
    size_t from = 0, gt = NONE;
    for (size_t p : starts) {
        FormMatch m;
        if (p < from) continue;
        if (shape.lead == IMG_SRC) imgSrcs(shape, p, from, gt, found);
        else if (shape.lead == MOBILE_ELEMENT ? elementAt(p, gt, &m) : backgroundAt(shape, p, &m))
            found.push_back(m), from = m.end;
    }
    return found;
}

static const FormShape *shapeOf(int form) {
    static const FormShape SHAPES[FORM_COUNT] = {
        {IMG_SRC, '"', "<>", false},
        {IMG_SRC, '\'', "'<>", false},
        {IMG_SRC, 0, " |<>", false},
        {BACKGROUND_ATTRIBUTE, '"', "<>", false},
        {BACKGROUND_ATTRIBUTE, '\'', "'<>", false},
        {BACKGROUND_ATTRIBUTE, 0, " |<>", false},
        {BACKGROUND_URL, '"', "<>", false},
        {BACKGROUND_URL, '\'', "'<>", false},
        {BACKGROUND_URL, 0, ")<>", true},
        {MOBILE_ELEMENT, 0, "<", false},
    };
    return &SHAPES[form];
}
