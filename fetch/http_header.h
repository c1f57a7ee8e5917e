/* The six facts the fetcher takes from an HTTP response header. */
#ifndef LUMORA_HTTP_HEADER_H
#define LUMORA_HTTP_HEADER_H

#include <stdint.h>

/* The most bytes a response header may take. Signed links in a Location
 * run to several KB, so a Location may take all of it and is never cut. */
enum { HTTP_HEADER_LIMIT = 16384 };

enum { LOCATION_SIZE = HTTP_HEADER_LIMIT, CONNECTION_SIZE = 16, CONTENT_ENCODING_SIZE = 32, RETRY_AFTER_SIZE = 64 };

struct HttpHeader {
    int32_t contentLength;                      /* -1 when the header has none */
    int isChunked;                              /* 1 for "Transfer-Encoding: chunked" */
    char location[LOCATION_SIZE];               /* the redirect target */
    char connection[CONNECTION_SIZE];           /* e.g. "close" */
    char contentEncoding[CONTENT_ENCODING_SIZE];
    char retryAfter[RETRY_AFTER_SIZE];          /* seconds or an HTTP date */
};

/* Reads the header block text (status line and header lines, without the
 * blank line), cutting it apart in place, into header. The text fields are
 * written only for lines that are present; a value longer than its field is
 * cut to fit (a Location within HTTP_HEADER_LIMIT always fits). */
void parseHttpHeader(char *text, HttpHeader *header);

#endif
