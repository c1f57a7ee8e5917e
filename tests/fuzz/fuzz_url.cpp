/* Fuzz target: link parsing, the file extension of a link, and resolving and escaping links. */
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
    std::string resolved = resolveLink(link.substr(0, link.size() / 2), link.substr(link.size() / 2));
    requestLink(resolved, size > 0 && (data[0] & 1));
    return 0;
}
