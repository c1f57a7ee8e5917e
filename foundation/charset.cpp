/* iconv wrapper; see charset.h.
 *
 * Two differences between iconv implementations are smoothed over here.
 * With "//IGNORE", glibc converts everything it can but then reports -1 and
 * EILSEQ (and may stop early, to be called again), where GNU libiconv
 * returns a count; a conversion that consumed all its input counts as done.
 * glibc's "UCS-2" reads host byte order and ignores a big-endian mark, GNU
 * libiconv's honours either mark; so the mark is read here and the explicit
 * byte order is asked for ("UTF-16" likewise).
 *
 * From UCS-2 or UTF-16 to GBK or GB18030, the units below 0x80 are the same
 * bytes in the target, and a stream copies long runs of them itself: the
 * converter's every character goes through two table steps, and a package
 * is mostly ASCII markup. Such a run never splits a surrogate pair: a high
 * surrogate before one goes to the converter with the run's first unit,
 * which shows it unpaired.
 *
 * GB18030-2022 gave 24 private-use characters new codes, and converters
 * disagree on them: glibc 2.36 cannot write them, GNU libiconv writes the
 * old two-byte codes but reads those back as other characters. A stream to
 * GB18030 that must not change a character fails at them itself. */
#include "charset.h"

#include <errno.h>
#include <iconv.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "text_utils.h"

enum { CHARSET_NAME_SIZE = 64 };

/* Runs of ASCII shorter than this go to the converter with the text around
 * them, so that it is not called for every word between two characters. */
enum { ASCII_RUN_MIN = 16 };

/* An open conversion and the characters it has dropped. */
struct CharsetStream {
    iconv_t cd;
    long dropped;
    CharsetMisfit misfit;
    int asciiHigh;       // 16-bit units to GBK or GB18030: which byte of a unit is the high one; -1 for other conversions
    bool failsUnsettled; // 16-bit units to GB18030 with MISFIT_FAILS: the 24 characters fail
};

/* For "UCS-2" and "UTF-16" input, picks the explicit byte order from the
 * mark and skips the mark; other character sets pass through unchanged. */
static const char *sourceByteOrder(const char *fromCode, const char **input, size_t *inputBytes) {
    int utf16 = equalsNoCase(fromCode, "UTF-16");
    if (!utf16 && !equalsNoCase(fromCode, "UCS-2")) return fromCode;
    const unsigned char *p = (const unsigned char *)*input;
    int little = *inputBytes >= 2 && p[0] == 0xFF && p[1] == 0xFE;
    int big = *inputBytes >= 2 && p[0] == 0xFE && p[1] == 0xFF;
    if (little || big) {
        *input += 2;
        *inputBytes -= 2;
    }
    if (utf16) return little ? "UTF-16LE" : "UTF-16BE";
    return little ? "UCS-2LE" : "UCS-2BE";
}

/* 1 for a target in which every ASCII character is its own byte and no
 * other character holds a byte below 0x80 first. */
static int keepsAscii(const char *toCode) {
    return equalsNoCase(toCode, "GBK") || equalsNoCase(toCode, "GB18030");
}

/* One iconv call; GNU libiconv takes the input as const char **, glibc as
 * char **, and the template takes whichever the header declares. */
template <class In>
static size_t convertStep(size_t (*convert)(iconv_t, In, size_t *, char **, size_t *), iconv_t cd, char **in,
                          size_t *inLeft, char **out, size_t *outLeft) {
    return convert(cd, (In)in, inLeft, out, outLeft);
}

CharsetStream *charsetStreamOpen(const char *fromCode, const char *toCode, CharsetMisfit misfit, const char **input,
                                 size_t *inputBytes) {
    char target[CHARSET_NAME_SIZE];
    snprintf(target, sizeof target, misfit == MISFIT_DROPPED ? "%s//IGNORE" : "%s", toCode);
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
    s->misfit = misfit;
    s->asciiHigh = source == fromCode || !keepsAscii(toCode) ? -1 : endsWithNoCase(source, "LE");
    s->failsUnsettled = s->asciiHigh >= 0 && misfit == MISFIT_FAILS && equalsNoCase(toCode, "GB18030");
    return s;
}

/* Runs iconv until the input is used up or it stops making progress. */
static CharsetStatus convertRun(CharsetStream *s, const char **input, size_t *inputBytes, char **output,
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
        } else if (errno == EILSEQ && s->misfit == MISFIT_DROPPED && (*inputBytes == 0 || *inputBytes != before)) {
            s->dropped++;  // characters were dropped
            if (*inputBytes > 0) continue;
            status = CHARSET_DONE;
        }
        *input = in;
        return status;
    }
}

static bool isAsciiUnit(const unsigned char *unit, int high) {
    return unit[high] == 0 && unit[1 - high] < 0x80;
}

static bool isHighSurrogate(const unsigned char *unit, int high) {
    return (unit[high] & 0xFC) == 0xD8;
}

/* 1 for one of the private-use characters whose GB18030 code converters
 * disagree on. */
static bool isUnsettled(const unsigned char *unit, int high) {
    static const uint16_t SINGLE[] = {0xE816, 0xE817, 0xE818, 0xE81E, 0xE826, 0xE82B, 0xE82C,
                                      0xE831, 0xE832, 0xE83B, 0xE843, 0xE854, 0xE855, 0xE864};
    unsigned u = (unsigned)unit[high] << 8 | unit[1 - high];
    if (u < 0xE78D || u > 0xE864) return false;
    if (u <= 0xE796) return true;
    for (uint16_t single : SINGLE)
        if (u == single) return true;
    return false;
}

/* The bytes of whole units at p (n bytes) before the first unsettled one. */
static size_t settledBytes(const unsigned char *p, size_t n, int high) {
    size_t at = 0;
    while (at + 2 <= n && !isUnsettled(p + at, high)) at += 2;
    return at + 2 <= n ? at : n;
}

/* The bytes of the ASCII units at the start of p (n bytes), four units at
 * a time where it can: a word whose bits under the mask are all clear. */
static size_t asciiBytes(const unsigned char *p, size_t n, int high) {
    static const unsigned char UNIT_MASK[2][8] = {{0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80},
                                                  {0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF}};
    uint64_t mask, word;
    memcpy(&mask, UNIT_MASK[high], sizeof mask);
    size_t at = 0;
    for (; at + 8 <= n; at += 8) {
        memcpy(&word, p + at, sizeof word);
        if (word & mask) break;
    }
    while (at + 2 <= n && isAsciiUnit(p + at, high)) at += 2;
    return at;
}

/* The bytes from p (n bytes) up to the next run of ASCII long enough to
 * copy, or to the end; *ascii receives that run's bytes (0 at the end). */
static size_t converterBytes(const unsigned char *p, size_t n, int high, size_t *ascii) {
    for (size_t at = 0;;) {
        while (at + 2 <= n && !isAsciiUnit(p + at, high)) at += 2;
        *ascii = asciiBytes(p + at, n - at, high);
        if (*ascii == 0) return n;  // the end, or a byte short of a unit
        if (*ascii < 2 * ASCII_RUN_MIN) {
            at += *ascii;
        } else if (at >= 2 && isHighSurrogate(p + at - 2, high)) {
            *ascii -= 2;
            return at + 2;
        } else {
            return at;
        }
    }
}

/* Copies up to units ASCII units from the input, as far as they fit.
 * Returns the units copied. */
static size_t copyAscii(int high, size_t units, const char **input, size_t *inputBytes, char **output,
                        size_t *outputBytes) {
    size_t n = units < *outputBytes ? units : *outputBytes;
    const char *in = *input + 1 - high;
    for (size_t i = 0; i < n; i++) (*output)[i] = in[2 * i];
    *input += 2 * n;
    *inputBytes -= 2 * n;
    *output += n;
    *outputBytes -= n;
    return n;
}

CharsetStatus charsetStreamConvert(CharsetStream *s, const char **input, size_t *inputBytes, char **output,
                                   size_t *outputBytes) {
    int high = s->asciiHigh;
    if (high < 0) return convertRun(s, input, inputBytes, output, outputBytes);
    size_t ascii = asciiBytes((const unsigned char *)*input, *inputBytes, high);
    for (;;) {
        bool full = copyAscii(high, ascii / 2, input, inputBytes, output, outputBytes) < ascii / 2;
        if (*inputBytes == 0) return CHARSET_DONE;
        // with the output full, the converter tells whether the rest needs room
        size_t run = full ? *inputBytes : converterBytes((const unsigned char *)*input, *inputBytes, high, &ascii);
        size_t settled = s->failsUnsettled ? settledBytes((const unsigned char *)*input, run, high) : run;
        size_t rest = *inputBytes - settled;
        *inputBytes = settled;
        CharsetStatus status = convertRun(s, input, inputBytes, output, outputBytes);
        *inputBytes += rest;
        if (status == CHARSET_DONE && settled < run) return CHARSET_FAILED;  // *input is at the unsettled one
        if (status != CHARSET_DONE) return status;
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
    CharsetStream *s = charsetStreamOpen(fromCode, toCode, MISFIT_DROPPED, &input, &inputBytes);
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
