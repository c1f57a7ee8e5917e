/* iconv wrapper; see charset.h.
 *
 * Two differences between iconv implementations are smoothed over here.
 * With "//IGNORE", glibc converts everything it can but then reports -1 and
 * EILSEQ (and may stop early, to be called again), where GNU libiconv
 * returns a count; a conversion that consumed all its input counts as done.
 * glibc's "UCS-2" reads host byte order and ignores a big-endian mark, GNU
 * libiconv's honours either mark; so the mark is read here and the explicit
 * byte order is asked for. */
#include "charset.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "text_utils.h"

enum { CHARSET_NAME_SIZE = 64 };

/* An open conversion and the characters it has dropped. */
struct CharsetStream {
    iconv_t cd;
    long dropped;
};

/* For "UCS-2" input, picks the explicit byte order from the mark and skips
 * the mark; other character sets pass through unchanged. */
static const char *sourceByteOrder(const char *fromCode, const char **input, size_t *inputBytes) {
    if (!equalsNoCase(fromCode, "UCS-2")) return fromCode;
    const unsigned char *p = (const unsigned char *)*input;
    int little = *inputBytes >= 2 && p[0] == 0xFF && p[1] == 0xFE;
    int big = *inputBytes >= 2 && p[0] == 0xFE && p[1] == 0xFF;
    if (little || big) {
        *input += 2;
        *inputBytes -= 2;
    }
    return little ? "UCS-2LE" : "UCS-2BE";
}

/* One iconv call; GNU libiconv takes the input as const char **, glibc as
 * char **, and the template takes whichever the header declares. */
template <class In>
static size_t convertStep(size_t (*convert)(iconv_t, In, size_t *, char **, size_t *), iconv_t cd, char **in,
                          size_t *inLeft, char **out, size_t *outLeft) {
    return convert(cd, (In)in, inLeft, out, outLeft);
}

CharsetStream *charsetStreamOpen(const char *fromCode, const char *toCode, const char **input, size_t *inputBytes) {
    char target[CHARSET_NAME_SIZE];
    snprintf(target, sizeof target, "%s//IGNORE", toCode);
    const char *source = sourceByteOrder(fromCode, input, inputBytes);
    iconv_t cd = iconv_open(target, source);
    CharsetStream *s = cd == (iconv_t)-1 ? NULL : (CharsetStream *)malloc(sizeof(CharsetStream));
    if (!s) {
        if (cd != (iconv_t)-1) iconv_close(cd);
        puts("不支持的字符集");  // also when memory runs out: the conversion cannot be had either way
        return NULL;
    }
    s->cd = cd;
    s->dropped = 0;
    return s;
}

/* Runs iconv until the input is used up or it stops making progress. */
CharsetStatus charsetStreamConvert(CharsetStream *s, const char **input, size_t *inputBytes, char **output,
                                   size_t *outputBytes) {
    char *in = (char *)*input;
    CharsetStatus status = CHARSET_FAILED;
    for (;;) {
        size_t before = *inputBytes;
        size_t r = convertStep(iconv, s->cd, &in, inputBytes, output, outputBytes);
        if (r != (size_t)-1) {
            s->dropped += (long)r;
            status = CHARSET_DONE;
        } else if (errno == EINVAL) {
            status = CHARSET_PARTIAL;
        } else if (errno == E2BIG) {
            status = CHARSET_OUTPUT_FULL;
        } else if (errno == EILSEQ && (*inputBytes == 0 || *inputBytes != before)) {
            s->dropped++;  // characters were dropped
            if (*inputBytes > 0) continue;
            status = CHARSET_DONE;
        }
        *input = in;
        return status;
    }
}

long charsetStreamDropped(const CharsetStream *s) {
    return s->dropped;
}

void charsetStreamClose(CharsetStream *s) {
    if (!s) return;
    iconv_close(s->cd);
    free(s);
}

long convertCharset(const char *fromCode, const char *toCode, const char *input, size_t inputBytes,
                    char *output, size_t outputBytes, size_t *writtenOut) {
    CharsetStream *s = charsetStreamOpen(fromCode, toCode, &input, &inputBytes);
    if (!s) return -1;
    char *out = output;
    size_t outLeft = outputBytes;
    CharsetStatus status = charsetStreamConvert(s, &input, &inputBytes, &out, &outLeft);
    long result = status == CHARSET_DONE ? charsetStreamDropped(s) : -1;
    charsetStreamClose(s);
    *writtenOut = outputBytes - outLeft;
    if (outLeft > 0) *out = '\0';
    return result;
}
