/* Byte-text helpers; see text_utils.h. */
#include "text_utils.h"

#include <ctype.h>
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

/* The text with pattern replaced at each of the offsets (ascending, not
 * overlapping); NULL when there are none or memory runs out. */
static char *replaceAt(const char *text, size_t textLen, const std::vector<size_t> &offsets, size_t patLen,
                       const char *replacement) {
    if (offsets.empty()) return NULL;
    size_t n = offsets.size(), repLen = strlen(replacement);
    if (repLen > patLen && (repLen - patLen) > (SIZE_MAX - textLen - 1) / n) return NULL;
    size_t size = textLen - n * patLen + n * repLen + 1;
    char *out = (char *)malloc(size);
    if (!out) return NULL;
    char *w = out;
    size_t from = 0;
    for (size_t at : offsets) {
        memcpy(w, text + from, at - from);
        w += at - from;
        memcpy(w, replacement, repLen);
        w += repLen;
        from = at + patLen;
    }
    memcpy(w, text + from, textLen - from + 1);
    return out;
}

char *replaceAll(const char *text, const char *pattern, const char *replacement) {
    if (!text || !*text || !pattern || !*pattern || !replacement) return NULL;
    size_t patLen = strlen(pattern);
    std::vector<size_t> offsets;
    offsets.reserve(256);
    for (const char *p = strstr(text, pattern); p; p = strstr(p + patLen, pattern))
        offsets.push_back((size_t)(p - text));
    return replaceAt(text, strlen(text), offsets, patLen, replacement);
}

static bool isLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

static bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

size_t charLength(const char *text, size_t left) {
    const unsigned char *p = (const unsigned char *)text;
    if (left < 2 || !isLead(p[0])) return 1;
    if (p[1] >= 0x40 && p[1] <= 0xFE && p[1] != 0x7F) return 2;
    return left >= 4 && isDigit(p[1]) && isLead(p[2]) && isDigit(p[3]) ? 4 : 1;
}

int isCharStart(const char *text, size_t offset) {
    size_t at = 0;
    while (at < offset && text[at]) at += charLength(text + at, SIZE_MAX);
    return at == offset;
}

char *nextToken(char **cursor, const char *separators) {
    char *token = *cursor;
    if (!token) return NULL;
    char *end = token + strcspn(token, separators);
    if (*end) {
        *end = '\0';
        *cursor = end + 1;
    } else {
        *cursor = NULL;
    }
    return token;
}

int stringEquals(const void *a, const void *b) {
    return a == b || strcmp((const char *)a, (const char *)b) == 0;
}

/* Compares n bytes ignoring the case of ASCII letters. */
static int equalNoCase(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i])) return 0;
    return 1;
}

/* Length rule shared by the prefix and suffix tests: an empty affix matches
 * only an empty text, and a text shorter than the affix never matches. */
static int affixFits(size_t textLen, size_t affixLen) {
    return affixLen == 0 ? textLen == 0 : textLen >= affixLen;
}

int equalsNoCase(const char *a, const char *b) {
    size_t n = strlen(a);
    return n == strlen(b) && equalNoCase(a, b, n);
}

int startsWith(const char *text, const char *prefix) {
    size_t n = strlen(prefix);
    return affixFits(strlen(text), n) && memcmp(text, prefix, n) == 0;
}

int startsWithNoCase(const char *text, const char *prefix) {
    size_t n = strlen(prefix);
    return affixFits(strlen(text), n) && equalNoCase(text, prefix, n);
}

int endsWithNoCase(const char *text, const char *suffix) {
    size_t textLen = strlen(text), n = strlen(suffix);
    return affixFits(textLen, n) && equalNoCase(text + textLen - n, suffix, n);
}

std::string lowerAscii(const char *text) {
    std::string lower = text;
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return lower;
}

char *copyBytes(const char *src, size_t length) {
    char *out = (char *)malloc(length + 1);
    if (!out) return NULL;
    memcpy(out, src, length);
    out[length] = '\0';
    return out;
}

int32_t leadingDecimal(const char *text) {
    long long value = strtoll(text, NULL, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return (int32_t)value;
}

std::string formatTextV(const char *format, va_list args) {
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(NULL, 0, format, args);
    std::string text(length > 0 ? (size_t)length : 0, '\0');
    if (length > 0) vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string formatText(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatTextV(format, args);
    va_end(args);
    return text;
}
