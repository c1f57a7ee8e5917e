/* Chunked body decoding; see chunked_body.h.
 *
 * Lines end at CR LF; a lone CR or LF is part of the line. A size line is
 * read as the program always has: an optional two-character prefix when
 * its second character is "x", blanks, then hexadecimal digits up to the
 * first other character (so an extension after ";" is ignored). */
#include "chunked_body.h"

#include <string.h>

void chunkDecoderInit(ChunkDecoder *d) {
    memset(d, 0, sizeof *d);
    d->state = CHUNK_SIZE;
}

/* The size on a size line; -1 when it does not fit in 31 bits. */
static int32_t chunkSize(const char *line) {
    const char *p = line[0] && (line[1] == 'x' || line[1] == 'X') ? line + 2 : line;
    p += strspn(p, " \t");
    int64_t size = 0;
    for (; *p; p++) {
        int digit = *p >= '0' && *p <= '9' ? *p - '0' : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
                  : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10 : -1;
        if (digit < 0) break;
        size = size * 16 + digit;
        if (size > INT32_MAX) return -1;
    }
    return (int32_t)size;
}

/* Takes one byte of a line. Returns 1 when the line is complete (its CR LF
 * taken), 0 when it goes on. */
static int lineByte(ChunkDecoder *d, char c) {
    if (c == '\n' && d->sawCR) {
        d->lineLength--;  // the CR was counted
        d->sawCR = 0;
        return 1;
    }
    if (d->lineLength < CHUNK_LINE_KEPT) d->line[d->lineLength] = c;
    d->lineLength++;
    d->sawCR = c == '\r';
    return 0;
}

/* A size line is complete: the next chunk, or the trailer. */
static int endSizeLine(ChunkDecoder *d) {
    d->line[d->lineLength < CHUNK_LINE_KEPT ? d->lineLength : CHUNK_LINE_KEPT] = '\0';
    d->size = chunkSize(d->line);
    d->lineLength = 0;
    if (d->size < 0) return CHUNK_BAD_SIZE;
    d->left = d->size;
    d->state = d->size == 0 ? CHUNK_TRAILER : CHUNK_DATA;
    return 1;
}

/* One byte in a state that reads byte by byte. */
static int stepByte(ChunkDecoder *d, char c) {
    switch (d->state) {
    case CHUNK_SIZE:
        if (lineByte(d, c)) return endSizeLine(d);
        return d->lineLength > CHUNK_LINE_LIMIT ? CHUNK_LINE_TOO_LONG : 1;
    case CHUNK_DATA_CR:
        d->state = CHUNK_DATA_LF;
        return c == '\r' ? 1 : CHUNK_BAD_DATA_END;
    case CHUNK_DATA_LF:
        d->state = CHUNK_SIZE;
        return c == '\n' ? 1 : CHUNK_BAD_DATA_END;
    case CHUNK_TRAILER:
        if (++d->trailerLength > CHUNK_LINE_LIMIT) return CHUNK_TRAILER_TOO_LONG;
        if (!lineByte(d, c)) return 1;
        if (d->lineLength == 0) d->state = CHUNK_DONE;  // the empty line
        d->lineLength = 0;
        return 1;
    default:
        return 1;
    }
}

int chunkDecode(ChunkDecoder *d, const char *data, int length, int *used, ChunkWrite write, void *context) {
    int at = 0;
    while (at < length && d->state != CHUNK_DONE) {
        if (d->state == CHUNK_DATA) {
            int take = d->left < length - at ? (int)d->left : length - at;
            if (!write(context, data + at, take)) return CHUNK_WRITE_FAILED;
            at += take;
            d->left -= take;
            if (d->left == 0) d->state = CHUNK_DATA_CR;
            continue;
        }
        int step = stepByte(d, data[at++]);
        if (step != 1) return step;
    }
    *used = at;
    return 1;
}
