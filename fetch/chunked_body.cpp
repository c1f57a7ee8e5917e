/* Chunked body decoding; see chunked_body.h.
 *
 * Lines end at CR LF; a lone CR or LF is part of the line. A size line
 * reads as an optional two-character prefix when its second character is
 * "x", blanks, then hexadecimal digits up to the first other character (so
 * an extension after ";" is ignored). */
#include "chunked_body.h"

#include <string.h>

void chunkDecoderInit(ChunkDecoder *d) {
    memset(d, 0, sizeof *d);
    d->state = CHUNK_SIZE;
}

/* Keeps the failure and stops the decoder. */
static void fail(ChunkDecoder *d, int failure) {
    d->state = CHUNK_FAILED;
    d->failure = failure;
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
static void endSizeLine(ChunkDecoder *d) {
    d->line[d->lineLength < CHUNK_LINE_KEPT ? d->lineLength : CHUNK_LINE_KEPT] = '\0';
    d->size = chunkSize(d->line);
    d->lineLength = 0;
    if (d->size < 0) return fail(d, CHUNK_BAD_SIZE);
    d->left = d->size;
    d->state = d->size == 0 ? CHUNK_TRAILER : CHUNK_DATA;
}

/* One byte of a size line, whose CR counts against CHUNK_LINE_LIMIT. */
static void sizeByte(ChunkDecoder *d, char c) {
    if (lineByte(d, c)) endSizeLine(d);
    else if (d->lineLength > CHUNK_LINE_LIMIT) fail(d, CHUNK_LINE_TOO_LONG);
}

/* One byte after the last chunk: trailer lines up to the empty one. */
static void trailerByte(ChunkDecoder *d, char c) {
    if (++d->trailerLength > CHUNK_LINE_LIMIT) return fail(d, CHUNK_TRAILER_TOO_LONG);
    if (!lineByte(d, c)) return;
    if (d->lineLength == 0) d->state = CHUNK_DONE;  // the empty line
    d->lineLength = 0;
}

/* One byte in a state that reads byte by byte; the byte is checked before
 * the state moves on. */
static void stepByte(ChunkDecoder *d, char c) {
    switch (d->state) {
    case CHUNK_SIZE:
        return sizeByte(d, c);
    case CHUNK_DATA_CR:
        if (c != '\r') return fail(d, CHUNK_BAD_DATA_END);
        d->state = CHUNK_DATA_LF;
        return;
    case CHUNK_DATA_LF:
        if (c != '\n') return fail(d, CHUNK_BAD_DATA_END);
        d->state = CHUNK_SIZE;
        return;
    case CHUNK_TRAILER:
        return trailerByte(d, c);
    default:  // the data states take no single bytes, the terminal ones none at all
        return;
    }
}

/* Passes on as much of the chunk's data as the length bytes hold. Returns
 * the bytes used; the decoder fails when write refuses them. */
static int passData(ChunkDecoder *d, const char *data, int length, ChunkWrite write, void *context) {
    int take = d->left < length ? (int)d->left : length;
    if (!write(context, data, take)) {
        fail(d, CHUNK_WRITE_FAILED);
        return 0;
    }
    d->left -= take;
    if (d->left == 0) d->state = CHUNK_DATA_CR;
    return take;
}

int chunkDecode(ChunkDecoder *d, const char *data, int length, int *used, ChunkWrite write, void *context) {
    int at = 0;
    while (d->state != CHUNK_DONE && d->state != CHUNK_FAILED && at < length) {
        if (d->state == CHUNK_DATA) at += passData(d, data + at, length - at, write, context);
        else stepByte(d, data[at++]);
    }
    *used = at;
    return d->state == CHUNK_FAILED ? d->failure : 1;
}
