/* Body reading; see body_read.h.
 *
 * Every receive goes into the stream's buffer and on to the file at once;
 * nothing of the body is kept but its ends and its digest. A body without
 * a length ends only with an orderly close, and a chunked one only with
 * its last chunk. */
#include "body_read.h"

#include <errno.h>
#include <string.h>

#include "platform.h"
#include "text_utils.h"

/* The file's write buffer: larger than most images. */
enum { FILE_BUFFER_SIZE = 256 * 1024 };

/* The trailer's message names HTTP_BUFFER_SIZE for the decoder's limit. */
static_assert((int)CHUNK_LINE_LIMIT == (int)HTTP_BUFFER_SIZE, "the trailer's messages name its limit HTTP_BUFFER_SIZE");

int bodyFileCreate(BodyReader &b, const std::string &partPath) {
    b.partPath = partPath;
    b.file = createNewFile(partPath.c_str(), NULL);
    if (!b.file) return 0;
    setvbuf(b.file, NULL, _IOFBF, FILE_BUFFER_SIZE);  // most images reach the disk in one write
    return 1;
}

int bodyFileClose(BodyReader &b, int keep, const char *filePath) {
    if (!b.file) return 1;
    int closed = fclose(b.file) == 0 && (!keep || replaceFile(b.partPath.c_str(), filePath));
    b.file = NULL;
    if (keep && closed) return 1;
    remove(b.partPath.c_str());
    return 0;
}

/* The next receive into the buffer: its result, also in s.lastRead. */
static int receiveNext(ReplyStream &s) {
    s.lastRead = receive(s.conn, s.buffer, HTTP_BUFFER_SIZE, &s.clock);
    return s.lastRead;
}

/* Counts n more body bytes; 0, the fault kept, beyond the size limit. */
static int countBody(BodyReader &b, int n) {
    b.received += n;
    if (b.received <= HTTP_BODY_LIMIT) return 1;
    b.fault = BODY_TOO_LARGE;
    return 0;
}

/* Writes a piece of the body and notes its ends and digest. Returns 1, or
 * 0 with the fault kept. */
static int writeBody(BodyReader &b, const char *data, int length) {
    imageEndsTake(&b.ends, data, length);
    if (length <= 0) return 1;
    b.digest = digestAdd(b.digest, data, (size_t)length);
    if (fwrite(data, 1, (size_t)length, b.file) == (size_t)length) return 1;
    b.fault = BODY_WRITE_FAILED;
    return 0;
}

/* Why the reader stopped taking the body, as the outcome's failure. */
static int bodyRefused(const ReplyStream &s, const BodyReader &b, AttemptOutcome &o) {
    if (b.fault == BODY_TOO_LARGE)
        return attemptFail(o, REASON_TOO_LARGE, DOWNLOAD_REFUSED, "header.contentLength: %d, readTotal:%d > 10M",
                           s.header.contentLength, (int)b.received);
    return attemptFail(o, REASON_LOCAL_FILE, DOWNLOAD_WRITE_ERROR, "写入文件时出错，请检查硬盘可用空间是否已不足。");
}

/* The chunk decoder's write function: counts, then writes. */
static int takeChunkData(void *context, const char *data, int length) {
    BodyReader &b = *(BodyReader *)context;
    return countBody(b, length) && writeBody(b, data, length);
}

/* A size line cut off or beyond CHUNK_LINE_LIMIT: the plain reading's message. */
static int sizeLineFailure(const ReplyStream &s, const BodyReader &b, AttemptOutcome &o) {
    return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                       "下载图片失败3: 图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d", b.expected,
                       (int)b.received, s.lastRead, errno);
}

/* Why the chunk decoder failed the body, as the outcome's failure. */
static int chunkFailure(const ReplyStream &s, const BodyReader &b, AttemptOutcome &o) {
    const ChunkDecoder &d = b.chunks;
    switch (d.failure) {
    case CHUNK_WRITE_FAILED:
        return bodyRefused(s, b, o);
    case CHUNK_BAD_SIZE:
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED, "不正常: 这里就有问题了, chunksize:%d", d.size);
    case CHUNK_BAD_DATA_END:
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED, "chunk 数据后面不是 CRLF, chunksize:%d, readTotal:%d",
                           d.size, (int)b.received);
    case CHUNK_TRAILER_TOO_LONG:
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                           "读取完 HTTP_BUFFER_SIZE 长度, 也没有找到 chund 最后一个结束符");
    default:  // CHUNK_LINE_TOO_LONG
        return sizeLineFailure(s, b, o);
    }
}

/* The transfer ended before the chunked body did. Inside a chunk's data it
 * is judged incomplete; in a size line or the trailer it fails with the
 * message of the part, which tells how much of CHUNK_LINE_LIMIT was left. */
static int chunkedCutShort(const ReplyStream &s, const BodyReader &b, AttemptOutcome &o) {
    const ChunkDecoder &d = b.chunks;
    if (d.state == CHUNK_SIZE) return sizeLineFailure(s, b, o);
    if (d.state == CHUNK_TRAILER)
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                           "读取chunk最后的结束符时出错: syCount:%d, bufferSize:%d, ret:%d, errno:%d",
                           d.trailerLength, CHUNK_LINE_LIMIT - d.trailerLength, s.lastRead, errno);
    return DOWNLOAD_DONE;
}

/* Decodes a chunked body whose first bytes are s.buffer[pos, end). */
static int readChunked(ReplyStream &s, BodyReader &b, AttemptOutcome &o, int pos, int end) {
    for (;;) {
        int used = 0;
        if (chunkDecode(&b.chunks, s.buffer + pos, end - pos, &used, takeChunkData, &b) != 1)
            return chunkFailure(s, b, o);
        if (b.chunks.state == CHUNK_DONE) {
            if (pos + used < end) s.reusable = 0;  // bytes behind the body: the connection is out of step
            return DOWNLOAD_DONE;
        }
        pos = 0;
        end = receiveNext(s);
        if (end <= 0) return chunkedCutShort(s, b, o);
    }
}

/* Reads a plain body whose first part is s.buffer[pos, end). */
static int readPlain(ReplyStream &s, BodyReader &b, AttemptOutcome &o, int pos, int end) {
    int first = end - pos;
    if (b.expected != BODY_SIZE_UNDEFINED && b.expected < (uint32_t)first)
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_REFUSED,
                           "readTotal > fileSize, 当前下载的文件数据大小:%d, fileSize:%u", first, b.expected);
    if (!writeBody(b, s.buffer + pos, first)) return bodyRefused(s, b, o);
    b.received = first;
    while ((uint32_t)b.received != b.expected) {
        if (receiveNext(s) <= 0) break;
        if (!countBody(b, s.lastRead)) return bodyRefused(s, b, o);
        // past the expected size nothing is written; the exchange is then incomplete
        if ((uint32_t)b.received <= b.expected && !writeBody(b, s.buffer, s.lastRead)) return bodyRefused(s, b, o);
    }
    return DOWNLOAD_DONE;
}

/* Why a body of each BodyKind is refused. */
static const FailReason BODY_REASONS[] = {REASON_NONE, REASON_HTML,  REASON_WEBP,     REASON_AVIF,
                                          REASON_SVG,  REASON_EMPTY, REASON_NOT_IMAGE};

/* A body without a length ends only with an orderly close, never with a
 * reset or a time-out; and unless TLS announced the close, only with its
 * image's end, since a cut connection closes in order as well. */
int judgeBody(const ReplyStream &s, const BodyReader &b, AttemptOutcome &o) {
    int sized = (uint32_t)b.received == b.expected, chunkDone = b.chunks.state == CHUNK_DONE;
    // an empty body has no end to look for: it fails as no image
    int closed = b.expected == BODY_SIZE_UNDEFINED && s.lastRead == 0 &&
                 (transportCloseNotified(s.conn) || imageEndsWhole(&b.ends) || b.ends.length == 0);
    // a chunked body is whole only with its last chunk, on any connection
    int complete = s.header.isChunked ? chunkDone : sized || (!s.keepAlive && closed);
    if (!complete && s.keepAlive && b.expected == BODY_SIZE_UNDEFINED)
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                           "(fileSize:未定义, readTotal:%d), (header.isChunked:%d, isChunkReceiveCompleted:%d)",
                           (int)b.received, s.header.isChunked, chunkDone);
    if (!complete && s.keepAlive)
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                           "(fileSize:%u, readTotal:%d), (header.isChunked:%d, isChunkReceiveCompleted:%d)",
                           b.expected, (int)b.received, s.header.isChunked, chunkDone);
    if (!complete)
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_REFUSED,
                           "图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d", b.expected, (int)b.received,
                           s.lastRead, errno);
    if (!isImageData(&b.ends))
        return attemptFail(o, BODY_REASONS[bodyKind(&b.ends)], DOWNLOAD_REFUSED, "下载的图片格式不受支持");
    return DOWNLOAD_DONE;
}

int readBody(ReplyStream &s, BodyReader &b, AttemptOutcome &o, int pos, int end) {
    const HttpHeader &h = s.header;
    if (h.contentEncoding[0] && !equalsNoCase(h.contentEncoding, "identity"))
        return attemptFail(o, REASON_COMPRESSED, DOWNLOAD_FAILED, "header.contentEncoding:%s", h.contentEncoding);
    if (h.contentLength != -1) {
        if ((uint32_t)h.contentLength > HTTP_BODY_LIMIT)
            return attemptFail(o, REASON_TOO_LARGE, DOWNLOAD_REFUSED, "fileSize=0, header.contentLength: %u, 大于10M",
                               (uint32_t)h.contentLength);
        b.expected = (uint32_t)h.contentLength;
    } else if (s.keepAlive && !h.isChunked && !equalsNoCase(h.connection, "close")) {
        return attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED, "Connection: keep-alive, Content-Length = -1");
    }
    if (!h.isChunked && h.contentLength == -1) s.reusable = 0;  // the close ends the body
    int result = h.isChunked ? readChunked(s, b, o, pos, end) : readPlain(s, b, o, pos, end);
    return result == DOWNLOAD_DONE ? judgeBody(s, b, o) : result;
}
