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
#include <string.h>

#include "text_utils.h"

enum { CHARSET_NAME_SIZE = 64 };

namespace {

/* Owns one conversion descriptor. */
struct Conversion {
    iconv_t cd;
    Conversion(const char *to, const char *from) : cd(iconv_open(to, from)) {}
    ~Conversion() {
        if (ok()) iconv_close(cd);
    }
    bool ok() const { return cd != (iconv_t)-1; }
};

}  // namespace

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

/* Runs iconv until the input is used up or it stops making progress.
 * Returns the irreversible count, or -1 when input is left unconverted. */
static long convertAll(iconv_t cd, char **in, size_t *inLeft, char **out, size_t *outLeft) {
    long irreversible = 0;
    for (;;) {
        size_t before = *inLeft;
        size_t r = convertStep(iconv, cd, in, inLeft, out, outLeft);
        if (r != (size_t)-1) return irreversible + (long)r;
        if (errno != EILSEQ) return -1;
        if (*inLeft == 0) return irreversible + 1;  // characters were dropped
        if (*inLeft == before) return -1;
        irreversible++;
    }
}

long convertCharset(const char *fromCode, const char *toCode, const char *input, size_t inputBytes,
                    char *output, size_t outputBytes, size_t *writtenOut) {
    char target[CHARSET_NAME_SIZE];
    snprintf(target, sizeof target, "%s//IGNORE", toCode);
    const char *source = sourceByteOrder(fromCode, &input, &inputBytes);
    Conversion conv(target, source);
    if (!conv.ok()) {
        puts("不支持的字符集");
        return -1;
    }
    char *in = (char *)input, *out = output;
    size_t inLeft = inputBytes, outLeft = outputBytes;
    long result = convertAll(conv.cd, &in, &inLeft, &out, &outLeft);
    *writtenOut = outputBytes - outLeft;
    if (outLeft > 0) *out = '\0';
    return result;
}
