/* The one wrapper over the character-set converter (iconv).
 *
 * All text in memory is GBK; the data package is UCS-2 on disk and the update
 * service speaks UTF-8. The wrapper gives every platform's iconv the same
 * behaviour: characters the target cannot hold are dropped and the
 * conversion goes on, "UCS-2" input takes its byte order from its byte-order
 * mark (big-endian without one) and loses the mark. */
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

#endif
