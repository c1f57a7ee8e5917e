/* Loading a data package: the CSV file the seller assistant exports.
 *
 * The file is UTF-16 with a byte-order mark; it is converted to GB18030
 * (package_text.h) and kept whole as the package text, which the move job
 * later rewrites and writes back. Rows are cut with a TAB tokenizer in the
 * text itself, each TAB put back once its token is read; only the title and the three quoted fields that matter (the
 * description, the mobile details and the selling points, which may hold
 * TABs and line breaks) are read by their quotes, every other field by
 * counting TABs. */
#ifndef LUMORA_PACKAGE_READER_H
#define LUMORA_PACKAGE_READER_H

#include <stdint.h>

#include <string>

#include "link_extract.h"
#include "ptr_vector.h"

enum { TITLE_SIZE = 256 };

/* One item (one data row) of a loaded package; heap-allocated, owned by the
 * item list. */
struct ItemRecord {
    int32_t index;              /* position in the package; numbered by the window */
    char title[TITLE_SIZE];     /* GB18030, at most 255 bytes; doubled quotes stay doubled */
    int32_t status;             /* 0 after loading; set by the move job */
    PtrVector *descLinks;       /* description image URLs; always present after a load */
    PtrVector *mobileLinks;     /* mobile image URLs; NULL when the package has no such column */
    PtrVector *pcFailures;      /* filled by the move job */
    PtrVector *mobileFailures;  /* filled by the move job */
    LinkPlaces *places;         /* where its links stand in the package text; owned */
};

/* Results of loadPackage besides 1 (loaded) and 0 (not a usable package). */
enum { LOAD_TITLE_TOO_LONG = 2 };

/* Loads the package at path, appending one record per item to items (passed
 * empty). Returns 1 and hands the package text to *textOut (the caller frees
 * it); 2 when a title is longer than 255 bytes; 0 when the file is missing,
 * unreadable or not a package in the expected form. On 0, *problem (when
 * not NULL) says what was found and where when the reader can tell: a NUL,
 * a unit that is no character, a key column named twice; else it is left
 * alone. On 0 and 2 *textOut is untouched and the records appended so far
 * stay in items. The last row may end without its CR LF; it is kept as it
 * stands. When a description or mobile details field cannot be scanned,
 * shows the error and ends the process. */
int loadPackage(const char *path, PtrVector *items, char **textOut, std::string *problem);

/* p points at an opening quote: the length of the quoted field up to and
 * including its closing quote (doubled quotes inside are part of it), or 0
 * when it is not closed. */
int32_t quotedFieldLength(const char *p);

/* Releases a record with its four lists and their strings. Accepts NULL. */
void itemRecordDestroy(ItemRecord *item);

/* Releases every record of the list and empties it. */
void itemListClear(PtrVector *items);

#endif
