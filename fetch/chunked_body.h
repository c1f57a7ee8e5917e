/* Decoding a chunked HTTP body as it arrives, in pieces cut anywhere.
 *
 * A state machine over the bytes: each call takes the next piece of the
 * body and hands the chunks' data to a write function as it passes, keeping
 * nothing of the body but the start of the current size line. Each chunk's
 * data must be followed by CR LF; the body ends with the empty line after
 * the last chunk and its trailer lines, which are not interpreted. Each
 * byte is checked before the state moves on; a failure is kept, with its
 * reason, in a state that takes no further byte. */
#ifndef LUMORA_CHUNKED_BODY_H
#define LUMORA_CHUNKED_BODY_H

#include <stdint.h>

/* The longest size line or trailer part taken; the bytes of a size line
 * kept for reading the size. */
enum { CHUNK_LINE_LIMIT = 8192, CHUNK_LINE_KEPT = 64 };

enum ChunkState {
    CHUNK_SIZE,     /* reading a size line up to its CR LF */
    CHUNK_DATA,     /* passing on the chunk's data: left bytes to go */
    CHUNK_DATA_CR,  /* waiting for the CR that ends the data */
    CHUNK_DATA_LF,  /* waiting for the LF after it */
    CHUNK_TRAILER,  /* after the last chunk: trailer lines up to an empty one */
    CHUNK_DONE,     /* the body is whole; no byte after it is taken */
    CHUNK_FAILED,   /* the body does not hold together, for the reason kept in failure */
};

/* Failures of chunkDecode, each named after the limit or rule it reports. */
enum {
    CHUNK_BAD_SIZE = -1,          /* a size beyond 31 bits (INT32_MAX) */
    CHUNK_BAD_DATA_END = -2,      /* no CR LF after a chunk's data */
    CHUNK_LINE_TOO_LONG = -3,     /* a size line beyond CHUNK_LINE_LIMIT */
    CHUNK_TRAILER_TOO_LONG = -4,  /* trailer lines beyond CHUNK_LINE_LIMIT */
    CHUNK_WRITE_FAILED = -5,      /* the write function refused */
};

/* Takes length bytes of chunk data; 1 when they were taken, else 0. */
typedef int (*ChunkWrite)(void *context, const char *data, int length);

struct ChunkDecoder {
    ChunkState state;
    int64_t left;                    /* data bytes of the current chunk still to come */
    int32_t size;                    /* the size last read, -1 when it did not fit */
    int lineLength;                  /* bytes of the current line so far, CR LF not counted */
    int trailerLength;               /* bytes after the last chunk's size line */
    int sawCR;                       /* the line's last byte so far is a CR */
    int failure;                     /* in CHUNK_FAILED, which failure it met; 0 before */
    char line[CHUNK_LINE_KEPT + 1];  /* the size line's first bytes, terminated */
};

void chunkDecoderInit(ChunkDecoder *d);

/* Decodes the next length bytes of the body, passing data to write. Returns
 * 1 when they were all looked at or the body ended among them (state
 * CHUNK_DONE; *used then counts the body's bytes, the rest is not the
 * body's), or one of the failures above, which a failed decoder returns
 * again on every later call. */
int chunkDecode(ChunkDecoder *d, const char *data, int length, int *used, ChunkWrite write, void *context);

#endif
