/* Reading the fixed link forms by hand: img src, background attribute and
 * CSS background url (each double-quoted, single-quoted and bare) in a
 * description, and img elements in mobile details.
 *
 * The field is read in place, letters compared without regard to case, in
 * time linear in the field: a match can only begin where its lead word
 * ("<img" or "background") stands, and the src attributes of every "<img"
 * before one ">" are read once for that ">". An address ends where its form
 * says, and always at a double quote, a TAB or a line break, so no link
 * ever holds a byte of the row's structure; it is read a character at a
 * time (GB18030: GBK's two bytes, or four), so no byte after a
 * character's first ever ends it. */
#ifndef LUMORA_LINK_SCANNER_H
#define LUMORA_LINK_SCANNER_H

#include <stddef.h>

#include <vector>

/* The forms: 0 to 8 are the description forms; then mobile. */
enum { DESCRIPTION_FORM_COUNT = 9, MOBILE_FORM = 9, FORM_COUNT = 10 };

/* Where one match stands in the field. */
struct FormMatch {
    size_t start;                     // where its lead word stands
    size_t addressStart, addressEnd;  // the address
    size_t end;                       // the end of the whole match
};

struct FormShape;

/* One field, read once for its lead words; the text must outlive it. */
class FieldScanner {
public:
    FieldScanner(const char *text, size_t length);

    /* Every match of the form, in order; none overlaps the one before. */
    std::vector<FormMatch> matches(int form) const;

private:
    size_t skipSpaces(size_t i) const;
    bool holds(size_t i, const char *word) const;
    bool is(size_t i, char c) const { return i < length && text[i] == c; }
    size_t addressStart(size_t i, char quote) const;
    size_t addressEnd(size_t i, const FormShape &shape) const;
    size_t srcAddress(size_t r, char quote) const;
    void imgSrcs(const FormShape &shape, size_t p, size_t &from, size_t &lastGt, std::vector<FormMatch> &out) const;
    bool backgroundAt(const FormShape &shape, size_t p, FormMatch *m) const;
    bool elementAt(size_t p, size_t &failedGt, FormMatch *m) const;

    const char *text;
    size_t length;
    std::vector<size_t> imgStarts, backgroundStarts;
};

#endif
