/* Reading the fixed link forms by hand: img src, background attribute and
 * CSS background url (each double-quoted, single-quoted and bare) in a
 * description, and img elements in mobile details.
 *
 * The scanner finds exactly the matches of the fixed patterns of
 * link_extract.h, as a search from the end of each match would, but in time
 * linear in the field: a match can only begin where its lead word ("<img"
 * or "background") stands, and what a backtracking matcher would try again
 * for each "<img" before the same ">" is worked out once for that ">". */
#ifndef LUMORA_LINK_SCANNER_H
#define LUMORA_LINK_SCANNER_H

#include <stddef.h>

#include <string>
#include <vector>

/* The forms: 0 to 8 are the description patterns in order; then mobile. */
enum { MOBILE_FORM = 9, FORM_COUNT = 10 };

/* Where one match stands in the field. */
struct FormMatch {
    size_t addressStart, addressEnd;  // the address
    size_t end;                       // the end of the whole match
};

struct FormShape;
struct FormCache;

/* One field, read once for its lead words; the text must outlive it. */
class FieldScanner {
public:
    FieldScanner(const char *text, size_t length);

    /* Every match of the form, in order; each begins at or after the end of
     * the one before. */
    std::vector<FormMatch> matches(int form) const;

private:
    size_t skipSpaces(size_t i) const;
    bool holds(size_t i, const char *word) const;
    bool is(size_t i, char c) const { return i < length && lowered[i] == c; }
    size_t addressStart(size_t i, char quote) const;
    size_t addressEnd(size_t i, const char *stops) const;
    size_t srcAddress(size_t r, char quote) const;
    bool matchAt(const FormShape &shape, size_t p, FormCache &cache, FormMatch *m) const;
    bool imgSrcAt(const FormShape &shape, size_t p, FormCache &cache, FormMatch *m) const;
    bool backgroundAt(const FormShape &shape, size_t p, FormMatch *m) const;
    bool elementAt(size_t p, FormCache &cache, FormMatch *m) const;

    const char *text;
    size_t length;
    std::string lowered;  // ASCII letters folded, as a caseless matcher folds them
    std::vector<size_t> imgStarts, backgroundStarts;
};

#endif
