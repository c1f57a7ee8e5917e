/* Response header parsing; see http_header.h. Lines are split at every run
 * of CR and LF, so bare LF line ends pass too; each prefix takes exactly one
 * blank after its colon, and a later line wins over an earlier one. */
#include "http_header.h"

#include <string.h>

#include "text_utils.h"

/* Copies the value into a field, cut to fit. */
static void setField(char *field, size_t size, const char *value) {
    size_t n = strlen(value);
    if (n >= size) n = size - 1;
    memcpy(field, value, n);
    field[n] = '\0';
}

void parseHttpHeader(char *text, HttpHeader *header) {
    int32_t length = -1;
    int chunked = 0;
    char *cursor = text;
    for (char *line; (line = nextToken(&cursor, "\r\n"));) {
        if (cursor) cursor += strspn(cursor, "\r\n");  // a run of line ends is one separator
        if (startsWithNoCase(line, "Content-Length: ")) length = leadingDecimal(line + 16);
        else if (equalsNoCase(line, "Transfer-Encoding: chunked")) chunked = 1;
        else if (startsWithNoCase(line, "Location: ")) setField(header->location, LOCATION_SIZE, line + 10);
        else if (startsWithNoCase(line, "Connection: ")) setField(header->connection, CONNECTION_SIZE, line + 12);
        else if (startsWithNoCase(line, "Content-Encoding: "))
            setField(header->contentEncoding, CONTENT_ENCODING_SIZE, line + 18);
        else if (startsWithNoCase(line, "Retry-After: ")) setField(header->retryAfter, RETRY_AFTER_SIZE, line + 13);
    }
    header->contentLength = length;
    header->isChunked = chunked;
}
