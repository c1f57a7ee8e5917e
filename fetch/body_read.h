/* Reading the body of a 200 reply into the image's scratch file: a body of
 * a given length, one that only the connection's close ends, or a chunked
 * one through the chunk decoder; then the judgement of what arrived. The
 * BodyReader counts the bytes against HTTP_BODY_LIMIT and notes the body's
 * ends and digest as they pass to the file; when it stops taking bytes it
 * keeps why, and the attempt's outcome gets the message. */
#ifndef LUMORA_BODY_READ_H
#define LUMORA_BODY_READ_H

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "attempt.h"
#include "chunked_body.h"
#include "digest.h"
#include "image_ends.h"

/* The expected size of a body whose length was not given. */
static const uint32_t BODY_SIZE_UNDEFINED = 0xFFFFFFFFu;

/* Why the reader stopped taking the body's bytes. */
enum BodyFault {
    BODY_TAKING,        /* it has not */
    BODY_TOO_LARGE,     /* more than HTTP_BODY_LIMIT bytes */
    BODY_WRITE_FAILED,  /* a write to the file failed */
};

/* One body on its way into the scratch file. */
struct BodyReader {
    std::string partPath;  // the scratch file's name beside the image's
    FILE *file = NULL;     // the scratch file; owned, closed by bodyFileClose
    uint32_t expected = BODY_SIZE_UNDEFINED;  // the Content-Length, "fileSize" in the messages
    int64_t received = 0;  // the body's bytes so far, "readTotal"; at most one piece past HTTP_BODY_LIMIT
    ChunkDecoder chunks;   // a chunked body's decoding state
    ImageEnds ends = {};   // the first and last bytes written
    uint64_t digest = DIGEST_START;  // of the bytes written
    BodyFault fault = BODY_TAKING;
    BodyReader() { chunkDecoderInit(&chunks); }
};

/* Creates the scratch file afresh at partPath (an existing file is not
 * taken over). 1, or 0 when it could not be created. */
int bodyFileCreate(BodyReader &b, const std::string &partPath);

/* Closes the scratch file; with keep, puts it in place of filePath,
 * else removes it. Returns 0 when a kept file could not be completed (it is
 * then removed), else 1; harmless without a file. */
int bodyFileClose(BodyReader &b, int keep, const char *filePath);

/* Reads the body of a 200 reply whose header s holds and whose first bytes
 * are s.buffer[pos, end), and judges it. Returns DOWNLOAD_DONE, or a
 * failure with the outcome's message and reason. Clears s.reusable when the
 * connection cannot carry another request. */
int readBody(ReplyStream &s, BodyReader &b, AttemptOutcome &o, int pos, int end);

/* Judges a finished transfer: complete, of the right size, an image.
 * DOWNLOAD_DONE, or a failure with the outcome's message and reason. */
int judgeBody(const ReplyStream &s, const BodyReader &b, AttemptOutcome &o);

#endif
