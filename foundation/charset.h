/* The one wrapper over the character-set converter (iconv).
 *
 * The program's own texts are GBK; a data package is UTF-16 on disk and is
 * held in memory as GB18030, which is GBK wherever GBK has the character
 * and holds every other one in four bytes; the update service speaks UTF-8.
 * The wrapper gives every platform's iconv the same behaviour: characters
 * the target cannot hold are dropped and the conversion goes on (or, for a
 * stream that asks, stop it), "UCS-2" and "UTF-16" input takes its byte
 * order from its byte-order mark (big-endian without one) and loses the
 * mark. */
#ifndef LUMORA_CHARSET_H
#define LUMORA_CHARSET_H

#include <stddef.h>

/* Converts inputBytes of input from fromCode to toCode in one pass.
 * *writtenOut receives the bytes produced, also on failure, and a NUL follows
 * them when the buffer has room (the rest of it is not touched, so a large
 * buffer sized for the worst case costs no more than the text). Returns -1 when the conversion failed (unknown
 * character set, malformed or truncated input, output too small), otherwise
 * the count of irreversible conversions (0 or more). An unknown character set
 * prints a line to standard output and leaves output and *writtenOut alone. */
long convertCharset(const char *fromCode, const char *toCode, const char *input, size_t inputBytes,
                    char *output, size_t outputBytes, size_t *writtenOut);

/* A conversion kept open over a long text taken in pieces: its input read
 * from a file a piece at a time, or its output written out whenever the
 * buffer is full. The rules are those of convertCharset. */
struct CharsetStream;

/* What one call of charsetStreamConvert ended with. */
enum CharsetStatus {
    CHARSET_FAILED,        /* malformed input, or a misfit that fails: the conversion is over */
    CHARSET_DONE,          /* all the input given was converted */
    CHARSET_PARTIAL,       /* the input ends inside a character: more is needed */
    CHARSET_OUTPUT_FULL    /* the output buffer is full: empty it and go on */
};

/* What a stream does with a character the target cannot hold, or input
 * that is no character (a lone UTF-16 surrogate). */
enum CharsetMisfit {
    MISFIT_DROPPED,  /* leaves it out and goes on, as convertCharset does */
    MISFIT_FAILS     /* fails there: *input is left at it */
};

/* Opens a conversion whose input begins with *input (*inputBytes bytes);
 * for "UCS-2" and "UTF-16" a byte-order mark there is read and stepped
 * over. Returns the stream (charsetStreamClose frees it), or NULL, with the
 * line printed as by convertCharset, when the character sets are unknown. */
CharsetStream *charsetStreamOpen(const char *fromCode, const char *toCode, CharsetMisfit misfit, const char **input,
                                 size_t *inputBytes);

/* Converts from *input into *output, moving both on and counting both down.
 * The bytes of a character cut at the end of the input stay in *input. */
CharsetStatus charsetStreamConvert(CharsetStream *s, const char **input, size_t *inputBytes, char **output,
                                   size_t *outputBytes);

/* The characters dropped so far because the target cannot hold them. */
long charsetStreamDropped(const CharsetStream *s);

/* Frees the stream; accepts NULL. */
void charsetStreamClose(CharsetStream *s);

#endif
