/* Fuzz target: link parsing and the file extension of a link. */
#include <stdint.h>

#include <string>

#include "url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string link((const char *)data, size);  // a link ends at its first NUL, as in the package
    UrlParts parts = {NULL, NULL, 0, 0};
    if (parseUrl(link.c_str(), &parts)) {
        if (!parts.host || !parts.path || parts.path[0] != '/') __builtin_trap();
        freeUrlParts(&parts);
    }
    char extension[8] = {0};
    urlFileExtension(link.c_str(), extension, sizeof extension - 1);
    return 0;
}
