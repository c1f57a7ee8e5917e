/* The parts of an HTTP exchange that the download to a file and the fetch
 * into memory share: the request text, sending it, and reading the response
 * header into the fixed receive buffer. */
#ifndef LUMORA_HTTP_EXCHANGE_H
#define LUMORA_HTTP_EXCHANGE_H

#include <string>

#include "transport.h"
#include "url.h"

/* The receive buffer: the whole header must fit, and no read asks for
 * more. Buffers are one byte larger, for a terminator. */
enum { HTTP_BUFFER_SIZE = 8192 };

/* A body above this size is refused (unless chunked, for a download). */
enum { HTTP_BODY_LIMIT = 10485760 };

/* The GET request for the parsed link: HTTP/1.1 asking for keep-alive, or
 * HTTP/1.0 with "Connection: close". Any length: a long link is served. */
std::string httpRequest(const UrlParts &parts, int keepAlive);

/* Sends all of the text; 1 when it went out, 0 on a send error. */
int sendAll(Transport *t, const std::string &text);

/* Outcome of reading a response header. */
enum HeaderRead { HEADER_COMPLETE, HEADER_CUT_SHORT, HEADER_TOO_LARGE };

/* Reads into buffer (HTTP_BUFFER_SIZE + 1 bytes, zeroed) until it holds the
 * blank line that ends the header. *held receives the bytes read and
 * *lastRead the result of the last read; on HEADER_COMPLETE *headerLength
 * is the offset of the blank line's "\r\n\r\n". */
HeaderRead readHeader(Transport *t, char *buffer, int *held, int *lastRead, int *headerLength);

#endif
