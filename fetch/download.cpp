/* Image download to a file; see download.h.
 *
 * One attempt runs connect, request, file, header, status and body in turn
 * over one fixed receive buffer, writing the body to the file as it comes;
 * chunked bodies are decoded in place in the same buffer. The attempt's
 * outcome then decides the clean-up: keep the file, follow the redirect, or
 * remove the file and repeat once without keep-alive. */
#include "download.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app_log.h"
#include "conn_pool.h"
#include "http_exchange.h"
#include "http_header.h"
#include "text_utils.h"
#include "url.h"

enum { DOWNLOAD_DONE = 1, DOWNLOAD_REFUSED = 0, DOWNLOAD_REDIRECT = 2 };

/* The file's write buffer: larger than most images. */
enum { FILE_BUFFER_SIZE = 256 * 1024 };

/* The expected size of a body whose length was not given. */
static const uint32_t SIZE_UNDEFINED = 0xFFFFFFFFu;

namespace {

/* One attempt: the link, its connection and file, the receive buffer and
 * the body accounting that the messages report. */
struct Attempt {
    const char *filePath;
    char *errMsg;
    int keepAlive;
    int redirected;
    UrlParts parts = {NULL, NULL, 0, 0};
    Transport *conn = NULL;
    FILE *file = NULL;
    HttpHeader header;
    char buffer[HTTP_BUFFER_SIZE + 1];
    uint32_t expected = SIZE_UNDEFINED;  // fileSize in the messages
    int32_t received = 0;                // readTotal
    int chunkDone = 0;                   // isChunkReceiveCompleted
    unsigned char signature[2] = {0, 0};
    int signatureCount = 0;
    int lastRead = 0;
};

}  // namespace

/* Leaves the formatted message and returns result. */
__attribute__((format(printf, 3, 4))) static int fail(Attempt &a, int result, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(a.errMsg, ERR_MSG_SIZE, format, args);
    va_end(args);
    return result;
}

/* Writes a piece of the body and collects the signature from it. Returns 1,
 * or 0 with the write error left. */
static int writeBody(Attempt &a, const char *data, int length) {
    for (int i = 0; a.signatureCount < 2 && i < length; i++) a.signature[a.signatureCount++] = (unsigned char)data[i];
    if (length <= 0 || fwrite(data, 1, (size_t)length, a.file) == (size_t)length) return 1;
    fail(a, DOWNLOAD_WRITE_ERROR, "写入文件时出错，请检查硬盘可用空间是否已不足。");
    return 0;
}

static int isImageData(const unsigned char *b) {
    return (b[0] == 0xFF && b[1] == 0xD8) || (b[0] == 0x89 && b[1] == 0x50) || (b[0] == 0x47 && b[1] == 0x49) ||
           (b[0] == 0x42 && b[1] == 0x4D);
}

/* Reads into the buffer behind keep bytes. Returns the bytes now held, or 0
 * or less (the read's result) when nothing came; the data is terminated. */
static int refill(Attempt &a, int keep) {
    a.lastRead = transportRecv(a.conn, a.buffer + keep, HTTP_BUFFER_SIZE - keep);
    if (a.lastRead <= 0) return a.lastRead;
    a.buffer[keep + a.lastRead] = '\0';
    return keep + a.lastRead;
}

/* The end of a chunked body: the "0" line has been read and held bytes
 * after it are at the buffer start. Reads up to the CR LF that ends the
 * body (after the trailer lines, if any). */
static int readLastChunk(Attempt &a, int end, int after) {
    int held = end - after;
    memmove(a.buffer, a.buffer + after, (size_t)held);
    a.buffer[held] = '\0';
    if (held != 2) {
        char numbers[128];
        snprintf(numbers, sizeof numbers, "chunk size == 0, readTotal:%d, p - data:%d, syCount:%d, dataContent:\r\n",
                 end, after, held);
        appendLog((std::string(numbers) + a.buffer).c_str());
    }
    // the body ends with an empty line: "\r\n" alone, or after the trailer lines
    while (!(held == 2 && memcmp(a.buffer, "\r\n", 2) == 0) &&
           !(held >= 4 && memcmp(a.buffer + held - 4, "\r\n\r\n", 4) == 0)) {
        if (held >= HTTP_BUFFER_SIZE)
            return fail(a, DOWNLOAD_FAILED, "读取完 HTTP_BUFFER_SIZE 长度, 也没有找到 chund 最后一个结束符");
        int space = HTTP_BUFFER_SIZE - held;
        int now = refill(a, held);
        if (now <= 0)
            return fail(a, DOWNLOAD_FAILED, "读取chunk最后的结束符时出错: syCount:%d, bufferSize:%d, ret:%d, errno:%d",
                        held, space, a.lastRead, errno);
        held = now;
    }
    a.chunkDone = 1;
    return DOWNLOAD_DONE;
}

/* The size on a chunk-size line: hexadecimal after an optional "0x" and
 * blanks, up to the first other character (an extension after ";" is
 * ignored). -1 when it does not fit in 31 bits. */
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

/* Reads the rest of a chunk that the buffer did not hold straight into the
 * buffer, writing each read at once. Returns 1 when the chunk is complete,
 * 0 when the transfer ended early (the exchange is then judged) and -2 on a
 * write error. */
static int readChunkRest(Attempt &a, int32_t missing) {
    while (missing > 0) {
        a.lastRead = transportRecv(a.conn, a.buffer, missing < HTTP_BUFFER_SIZE ? missing : HTTP_BUFFER_SIZE);
        if (a.lastRead <= 0) return 0;
        if (!writeBody(a, a.buffer, a.lastRead)) return DOWNLOAD_WRITE_ERROR;
        a.received += a.lastRead;
        missing -= a.lastRead;
    }
    return 1;
}

/* Decodes a chunked body whose first bytes are buffer[pos, end). Returns
 * DOWNLOAD_DONE when the exchange is to be judged, or a failure. */
static int readChunked(Attempt &a, int pos, int end) {
    for (;;) {
        const char *crlf = strstr(a.buffer + pos, "\r\n");
        if (!crlf) {
            int moved = end - pos;
            memmove(a.buffer, a.buffer + pos, (size_t)moved);
            end = refill(a, moved);
            if (end <= 0)
                return fail(a, DOWNLOAD_FAILED, "下载图片失败3: 图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d",
                            a.expected, a.received, a.lastRead, errno);
            pos = end > 1 && memcmp(a.buffer, "\r\n", 2) == 0 ? 2 : 0;
            continue;
        }
        int32_t size = chunkSize(a.buffer + pos);
        if (size < 0) return fail(a, DOWNLOAD_FAILED, "不正常: 这里就有问题了, chunksize:%d", size);
        int data = (int)(crlf - a.buffer) + 2;
        if (size == 0) return readLastChunk(a, end, data);
        int available = end - data;
        if (available >= size) {
            if (!writeBody(a, a.buffer + data, size)) return DOWNLOAD_WRITE_ERROR;
            a.received += size;
            pos = available > size + 1 ? data + size + 2 : data + size;  // 0 or 1 bytes left: read on
            continue;
        }
        if (!writeBody(a, a.buffer + data, available)) return DOWNLOAD_WRITE_ERROR;
        a.received += available;
        int rest = readChunkRest(a, size - available);
        if (rest != 1) return rest == 0 ? DOWNLOAD_DONE : rest;
        pos = end = 0;
        a.buffer[0] = '\0';
    }
}

/* Reads a plain body whose first part is buffer[pos, end). */
static int readPlain(Attempt &a, int pos, int end) {
    int first = end - pos;
    if (a.expected != SIZE_UNDEFINED && a.expected < (uint32_t)first)
        return fail(a, DOWNLOAD_REFUSED, "readTotal > fileSize, 当前下载的文件数据大小:%d, fileSize:%u", first,
                    a.expected);
    if (!writeBody(a, a.buffer + pos, first)) return DOWNLOAD_WRITE_ERROR;
    a.received = first;
    while ((uint32_t)a.received != a.expected) {
        a.lastRead = transportRecv(a.conn, a.buffer, HTTP_BUFFER_SIZE);
        if (a.lastRead <= 0) break;
        a.received += a.lastRead;
        if (a.received > HTTP_BODY_LIMIT)
            return fail(a, DOWNLOAD_REFUSED, "header.contentLength: %d, readTotal:%d > 10M", a.header.contentLength,
                        a.received);
        // past the expected size nothing is written; the exchange is then incomplete
        if ((uint32_t)a.received <= a.expected && !writeBody(a, a.buffer, a.lastRead)) return DOWNLOAD_WRITE_ERROR;
    }
    return DOWNLOAD_DONE;
}

/* Judges a finished transfer: complete, of the right size, an image. */
static int judge(Attempt &a) {
    int sized = (uint32_t)a.received == a.expected;
    // a chunked body is whole only with its last chunk, on any connection
    int complete = a.header.isChunked ? a.chunkDone : sized || (!a.keepAlive && a.expected == SIZE_UNDEFINED);
    if (!complete && a.keepAlive && a.expected == SIZE_UNDEFINED)
        return fail(a, DOWNLOAD_FAILED, "(fileSize:未定义, readTotal:%d), (header.isChunked:%d, isChunkReceiveCompleted:%d)",
                    a.received, a.header.isChunked, a.chunkDone);
    if (!complete && a.keepAlive)
        return fail(a, DOWNLOAD_FAILED, "(fileSize:%u, readTotal:%d), (header.isChunked:%d, isChunkReceiveCompleted:%d)",
                    a.expected, a.received, a.header.isChunked, a.chunkDone);
    if (!complete)
        return fail(a, DOWNLOAD_REFUSED, "图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d", a.expected, a.received,
                    a.lastRead, errno);
    if (a.signatureCount < 2 || !isImageData(a.signature))
        return fail(a, DOWNLOAD_REFUSED, "下载的图片格式不受支持");
    return DOWNLOAD_DONE;
}

/* The body of a 200 response that begins at buffer[pos, end). */
static int readBody(Attempt &a, int pos, int end) {
    HttpHeader &h = a.header;
    if (h.contentEncoding[0]) return fail(a, DOWNLOAD_FAILED, "header.contentEncoding:%s", h.contentEncoding);
    if (h.contentLength != -1) {
        if ((uint32_t)h.contentLength > HTTP_BODY_LIMIT)
            return fail(a, DOWNLOAD_REFUSED, "fileSize=0, header.contentLength: %u, 大于10M", (uint32_t)h.contentLength);
        a.expected = (uint32_t)h.contentLength;
    } else if (a.keepAlive && !h.isChunked && !equalsNoCase(h.connection, "close")) {
        return fail(a, DOWNLOAD_FAILED, "Connection: keep-alive, Content-Length = -1");
    }
    int result = h.isChunked ? readChunked(a, pos, end) : readPlain(a, pos, end);
    return result == DOWNLOAD_DONE ? judge(a) : result;
}

/* Judges the status line and goes on to the body or the redirect. */
static int readStatus(Attempt &a, int held, int headerLength) {
    const char *b = a.buffer;
    if (startsWithNoCase(b, "HTTP/1.1 200 OK") || startsWithNoCase(b, "HTTP/1.0 200 OK"))
        return readBody(a, headerLength + 4, held);
    int redirect = startsWithNoCase(b, "HTTP/1.0 301") || startsWithNoCase(b, "HTTP/1.1 301") ||
                   startsWithNoCase(b, "HTTP/1.0 302") || startsWithNoCase(b, "HTTP/1.1 302");
    if (redirect && !a.redirected && a.header.location[0]) return DOWNLOAD_REDIRECT;
    if (startsWithNoCase(b, "HTTP/1.0 404") || startsWithNoCase(b, "HTTP/1.1 404"))
        return fail(a, DOWNLOAD_FAILED, "404 Not Found - 文件不存在");
    a.buffer[256] = '\0';
    return fail(a, DOWNLOAD_FAILED, "返回错误的http状态码:\n%s", a.buffer);
}

/* Connects, sends the request, creates the file and reads the response. */
static int exchange(Attempt &a) {
    char connectMessage[ERR_MSG_SIZE] = {0};
    a.conn = a.keepAlive ? poolAcquire(&a.parts, connectMessage) : connectLink(&a.parts, connectMessage);
    if (!a.conn) return fail(a, DOWNLOAD_FAILED, "%s", connectMessage);
    if (!sendAll(a.conn, httpRequest(a.parts, a.keepAlive))) return fail(a, DOWNLOAD_FAILED, "下载图片失败: send() failed");
    a.file = fopen(a.filePath, "wb");
    if (!a.file) return fail(a, DOWNLOAD_CREATE_ERROR, "图片搬家失败：无法创建新文件。");
    setvbuf(a.file, NULL, _IOFBF, FILE_BUFFER_SIZE);  // most images reach the disk in one write
    memset(a.buffer, 0, sizeof a.buffer);
    memset(&a.header, 0, sizeof a.header);
    int held = 0, headerLength = 0;
    HeaderRead header = readHeader(a.conn, a.buffer, &held, &a.lastRead, &headerLength);
    if (header == HEADER_TOO_LARGE)
        return fail(a, DOWNLOAD_FAILED, "读取 HTTP_BUFFER_SIZE 字节, 还没有读取完整个 HTTP Head.");
    if (header == HEADER_CUT_SHORT) {
        a.received = held;
        return judge(a);
    }
    std::string headerText(a.buffer, (size_t)headerLength);
    parseHttpHeader(&headerText[0], &a.header);
    return readStatus(a, held, headerLength);
}

/* The link as it is requested: "&amp;" as "&", blanks as "%20". */
static std::string workingLink(const char *url) {
    std::string link = url;
    char *unescaped = replaceAll(link.c_str(), "&amp;", "&");
    if (unescaped) link = unescaped;
    free(unescaped);
    char *spaced = replaceAll(link.c_str(), " ", "%20");
    if (spaced) link = spaced;
    free(spaced);
    return link;
}

/* Lets go of the connection: a pooled one stays pooled when keep is set. */
static void dropConnection(Attempt &a, int keep) {
    if (!a.conn || keep) return;
    if (a.keepAlive) poolRelease(&a.parts);
    transportClose(a.conn);
}

/* Closes the file; removes it unless it is to be kept. Returns 0 when a
 * kept file could not be completed. */
static int closeFile(Attempt &a, int keep) {
    if (!a.file) return 1;
    int closed = fclose(a.file) == 0;
    if (!keep || !closed) remove(a.filePath);
    return closed;
}

/* Repeats a failed keep-alive attempt once on a fresh connection. */
static int repeatWithoutKeepAlive(const char *url, const char *filePath, char *errMsg, int redirected) {
    std::string line = std::string("搬家失败：") + url + "(useKeepAlive:1)，返回的错误信息：\r\n" + errMsg;
    appendLog(line.c_str());
    return downloadToFile(url, filePath, errMsg, 0, redirected);
}

int downloadToFile(const char *url, const char *filePath, char *errMsg, int useKeepAlive, int redirected) {
    std::string link = workingLink(url);
    Attempt a;
    a.filePath = filePath;
    a.errMsg = errMsg;
    a.keepAlive = useKeepAlive;
    a.redirected = redirected;
    if (!parseUrl(link.c_str(), &a.parts)) {
        snprintf(errMsg, ERR_MSG_SIZE, "无法parse下载图片地址");
        return DOWNLOAD_FAILED;
    }
    if (!a.parts.https && a.parts.port == HTTPS_DEFAULT_PORT) a.parts.port = HTTP_DEFAULT_PORT;  // as it always was
    int result = exchange(a);
    if (result == DOWNLOAD_DONE) {
        dropConnection(a, a.keepAlive && !equalsNoCase(a.header.connection, "close"));
        if (!closeFile(a, 1)) result = fail(a, DOWNLOAD_WRITE_ERROR, "写入文件时出错，请检查硬盘可用空间是否已不足。");
        freeUrlParts(&a.parts);
        return result;
    }
    closeFile(a, 0);
    if (result == DOWNLOAD_REDIRECT) {
        const char *connection = a.header.connection;
        dropConnection(a, a.keepAlive && connection[0] && !equalsNoCase(connection, "close"));
        freeUrlParts(&a.parts);
        std::string location = a.header.location;
        if (endsWithNoCase(location.c_str(), "_.webp")) location.resize(location.size() - 6);
        return downloadToFile(location.c_str(), filePath, errMsg, 1, 1);
    }
    dropConnection(a, 0);
    freeUrlParts(&a.parts);
    if (useKeepAlive && (result == DOWNLOAD_REFUSED || result == DOWNLOAD_FAILED))
        return repeatWithoutKeepAlive(url, filePath, errMsg, redirected);
    return result;
}
