/* Fuzz target: response header parsing, over a header block as the fetcher passes it (a writable copy). */
#include <stdint.h>
#include <string.h>

#include <string>

#include "http_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text((const char *)data, size);
    HttpHeader header = {};
    parseHttpHeader(&text[0], &header);
    // every text field stays terminated inside its bounds
    if (!memchr(header.location, 0, sizeof header.location) || !memchr(header.connection, 0, sizeof header.connection) ||
        !memchr(header.contentEncoding, 0, sizeof header.contentEncoding))
        __builtin_trap();
    return 0;
}
