/* The ends of a body; see image_ends.h. The tail is a sliding window moved
 * along at each piece, so a body of any length costs a few bytes. */
#include "image_ends.h"

#include <ctype.h>
#include <string.h>

/* A BMP's bytes up to the end of the file size field in its header. */
enum { BMP_SIZE_END = 6 };

void imageEndsTake(ImageEnds *e, const char *data, int length) {
    if (length <= 0) return;
    for (int i = 0; e->length + i < IMAGE_HEAD_SIZE && i < length; i++) e->head[e->length + i] = (unsigned char)data[i];
    e->length += length;
    int fresh = length < IMAGE_TAIL_SIZE ? length : IMAGE_TAIL_SIZE;
    memmove(e->tail, e->tail + fresh, (size_t)(IMAGE_TAIL_SIZE - fresh));
    memcpy(e->tail + IMAGE_TAIL_SIZE - fresh, data + length - fresh, (size_t)fresh);
}

static int begins(const ImageEnds *e, unsigned char first, unsigned char second) {
    return e->length >= 2 && e->head[0] == first && e->head[1] == second;
}

int isImageData(const ImageEnds *e) {
    return begins(e, 0xFF, 0xD8) || begins(e, 0x89, 0x50) || begins(e, 0x47, 0x49) || begins(e, 0x42, 0x4D);
}

/* The head bytes held: the body's first IMAGE_HEAD_SIZE at most. */
static int headHeld(const ImageEnds *e) {
    return e->length < IMAGE_HEAD_SIZE ? (int)e->length : IMAGE_HEAD_SIZE;
}

/* The first byte at or after at that is no blank. */
static int pastBlanks(const ImageEnds *e, int at) {
    while (at < headHeld(e) && isspace(e->head[at])) at++;
    return at;
}

/* Markup: an optional UTF-8 byte order mark and blanks, then '<'. */
static int isMarkup(const ImageEnds *e) {
    int held = headHeld(e), at = held >= 3 && memcmp(e->head, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    at = pastBlanks(e, at);
    return at < held && e->head[at] == '<';
}

/* 1 when the head holds text at at, letters in any case. */
static int headHas(const ImageEnds *e, int at, const char *text) {
    int n = (int)strlen(text);
    if (at + n > headHeld(e)) return 0;
    for (int i = 0; i < n; i++)
        if (tolower(e->head[at + i]) != text[i]) return 0;
    return 1;
}

/* Where the markup that opens at at ends (past close); -1 when the head
 * ends first. */
static int pastMarkup(const ImageEnds *e, int at, const char *close) {
    for (; at < headHeld(e); at++)
        if (headHas(e, at, close)) return at + (int)strlen(close);
    return -1;
}

/* An SVG drawing: markup whose first element, past an XML declaration,
 * comments and a document type, is <svg>. */
static int isSvg(const ImageEnds *e) {
    int held = headHeld(e), at = held >= 3 && memcmp(e->head, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    for (at = pastBlanks(e, at); at < held; at = pastBlanks(e, at)) {
        const char *close = headHas(e, at, "<?") ? "?>" : headHas(e, at, "<!--") ? "-->" : headHas(e, at, "<!") ? ">" : NULL;
        if (!close) break;
        at = pastMarkup(e, at + 2, close);
        if (at < 0) return 0;  // the head ends inside it
    }
    if (!headHas(e, at, "<svg") || at + 4 >= held) return 0;
    unsigned char next = e->head[at + 4];
    return isspace(next) || next == '>' || next == '/';
}

/* "RIFF", the chunk's size, "WEBP". */
static int isWebp(const ImageEnds *e) {
    return headHeld(e) >= 12 && memcmp(e->head, "RIFF", 4) == 0 && memcmp(e->head + 8, "WEBP", 4) == 0;
}

/* An ISO-BMFF "ftyp" box whose major brand, or a compatible brand within
 * the head, is AVIF's image or sequence brand. */
static int isAvif(const ImageEnds *e) {
    int held = headHeld(e);
    if (held < 12 || memcmp(e->head + 4, "ftyp", 4) != 0) return 0;
    uint32_t box = (uint32_t)e->head[0] << 24 | (uint32_t)e->head[1] << 16 | (uint32_t)e->head[2] << 8 | e->head[3];
    int end = box != 0 && box < (uint32_t)held ? (int)box : held;
    for (int at = 8; at + 4 <= end; at += at == 8 ? 8 : 4)  // the minor version after the major brand is no brand
        if (memcmp(e->head + at, "avif", 4) == 0 || memcmp(e->head + at, "avis", 4) == 0) return 1;
    return 0;
}

BodyKind bodyKind(const ImageEnds *e) {
    if (isImageData(e)) return BODY_IMAGE;
    if (e->length == 0) return BODY_EMPTY;
    if (isSvg(e)) return BODY_SVG;
    if (isMarkup(e)) return BODY_HTML;
    if (isWebp(e)) return BODY_WEBP;
    return isAvif(e) ? BODY_AVIF : BODY_OTHER;
}

/* 1 when the body's last bytes are marker. */
static int endsWith(const ImageEnds *e, const void *marker, int size) {
    return e->length >= size && memcmp(e->tail + IMAGE_TAIL_SIZE - size, marker, (size_t)size) == 0;
}

/* A BMP's size field, little-endian after its two signature bytes. */
static int64_t bmpSize(const ImageEnds *e) {
    return (int64_t)e->head[2] | (int64_t)e->head[3] << 8 | (int64_t)e->head[4] << 16 | (int64_t)e->head[5] << 24;
}

int imageEndsWhole(const ImageEnds *e) {
    static const unsigned char JPEG_END[] = {0xFF, 0xD9};
    static const unsigned char PNG_END[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (begins(e, 0xFF, 0xD8)) return endsWith(e, JPEG_END, sizeof JPEG_END);
    if (begins(e, 0x89, 0x50)) return endsWith(e, PNG_END, sizeof PNG_END);
    if (begins(e, 0x47, 0x49)) return endsWith(e, ";", 1);
    return begins(e, 0x42, 0x4D) && e->length >= BMP_SIZE_END && bmpSize(e) == e->length;
}
