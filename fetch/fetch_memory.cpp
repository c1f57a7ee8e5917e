/* HTTP fetch into memory; see fetch_memory.h. */
#include "fetch_memory.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "conn_pool.h"
#include "host_failures.h"
#include "http_exchange.h"
#include "http_header.h"
#include "text_utils.h"
#include "url.h"

/* Sets the failure kind and a copy of the message; returns the result. */
static FetchResult *failWith(FetchResult *r, int kind, const std::string &message) {
    r->failKind = kind;
    r->data = copyBytes(message.data(), message.size());
    return r;
}

/* The message of a body that did not arrive whole. */
static std::string sizeMessage(uint32_t expected, int received, int lastRead) {
    char message[128];
    snprintf(message, sizeof message, "图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d", expected, received,
             lastRead, errno);
    return message;
}

/* Takes the body of a 200 response whose header is buffer[0, headerLength)
 * and whose first body bytes follow it up to held. */
static FetchResult *readBody(FetchResult *r, Transport *t, char *buffer, int held, int headerLength) {
    r->header = copyBytes(buffer, (size_t)headerLength);
    HttpHeader header;
    memset(&header, 0, sizeof header);
    std::string scratch(buffer, (size_t)headerLength);
    parseHttpHeader(&scratch[0], &header);
    uint32_t length = (uint32_t)header.contentLength;
    int first = held - headerLength - 4;
    char message[128];
    if (header.contentLength == -1) return failWith(r, FETCH_REFUSED, "http header 中没找到 Content-Length 字段");
    if (length > HTTP_BODY_LIMIT) {
        snprintf(message, sizeof message, "fileSize=0, header.contentLength: %u, 大于10M", length);
        return failWith(r, FETCH_REFUSED, message);
    }
    if ((uint32_t)first > length) {
        snprintf(message, sizeof message, "图片大小:%u, http header 返回的 Content-Length:%d", length,
                 header.contentLength);
        return failWith(r, FETCH_REFUSED, message);
    }
    char *body = (char *)calloc(length + 1, 1);
    if (!body) return failWith(r, FETCH_REFUSED, sizeMessage(length, 0, 0));
    memcpy(body, buffer + headerLength + 4, (size_t)first);
    int received = first, lastRead = 0;
    while ((uint32_t)received < length) {
        lastRead = receive(t, body + received, (int)(length - (uint32_t)received), NULL);
        if (lastRead <= 0) break;
        received += lastRead;
    }
    if ((uint32_t)received != length) {
        free(body);
        return failWith(r, FETCH_REFUSED, sizeMessage(length, received, lastRead));
    }
    r->ok = 1;
    r->data = body;
    r->length = (int)length;
    return r;
}

/* Reads the response on a connection that has the request. */
static FetchResult *readResponse(FetchResult *r, Transport *t, const UrlParts &parts) {
    char buffer[HTTP_HEADER_LIMIT + 1] = {0};
    int held = 0, lastRead = 0, headerLength = 0;
    HeaderRead header = readHeader(t, buffer, &held, &lastRead, &headerLength, NULL);
    if (header == HEADER_TOO_LARGE)
        return failWith(r, FETCH_REFUSED, "读取 HTTP_BUFFER_SIZE 字节, 还没有读取完整个 HTTP Head.");
    if (header == HEADER_CUT_SHORT) return failWith(r, FETCH_REFUSED, sizeMessage(0xFFFFFFFFu, held, lastRead));
    hostAnswered(processFailureCounts(), &parts);
    // the version as the protocol writes it, in capitals; any reason phrase
    if (!startsWith(buffer, "HTTP/") || responseStatus(buffer) != 200)
        return failWith(r, FETCH_REFUSED, statusMessage(buffer, headerLength));
    return readBody(r, t, buffer, held, headerLength);
}

FetchResult *fetchToMemory(const char *url) {
    FetchResult *r = (FetchResult *)calloc(1, sizeof(FetchResult));
    if (!r) abort();  // the one result that cannot be reported
    UrlParts parts;
    if (!parseUrl(url, &parts)) return failWith(r, FETCH_NO_EXCHANGE, "无法parse下载图片地址");
    char connectMessage[ERR_MSG_SIZE] = {0};
    DownloadContext context = processContext();
    Transport *t = connectLink(&context, &parts, connectMessage, NULL);
    if (!t) failWith(r, FETCH_NO_EXCHANGE, connectMessage);
    else if (!sendAll(t, httpRequest(parts, 0, 0))) failWith(r, FETCH_NO_EXCHANGE, "socket send() failed");
    else readResponse(r, t, parts);
    connectionClose(t);
    freeUrlParts(&parts);
    return r;
}

void freeFetchResult(FetchResult *result) {
    if (!result) return;
    free(result->header);
    free(result->data);
    free(result);
}
