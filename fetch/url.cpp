/* Link splitting; see url.h. */
#include "url.h"

#include <stdlib.h>
#include <string.h>

#include "text_utils.h"

static int httpPort = HTTP_DEFAULT_PORT;
static int httpsPort = HTTPS_DEFAULT_PORT;

void setDefaultPorts(int http, int https) {
    httpPort = http;
    httpsPort = https;
}

int defaultPort(const UrlParts *parts) {
    return parts->https ? httpsPort : httpPort;
}

int parseUrl(const char *url, UrlParts *parts) {
    if (!startsWithNoCase(url, "http") && !startsWithNoCase(url, "//")) return 0;
    if (strpbrk(url, "\r\n")) return 0;
    const char *slash = strchr(url, '/');
    if (!slash || !slash[1]) return 0;
    const char *hostStart = slash + 2;
    const char *pathStart = strchr(hostStart, '/');
    if (!pathStart) return 0;
    const char *colon = (const char *)memchr(hostStart, ':', (size_t)(pathStart - hostStart));
    const char *hostEnd = colon ? colon : pathStart;
    char *host = copyBytes(hostStart, (size_t)(hostEnd - hostStart));
    char *path = copyBytes(pathStart, strlen(pathStart));
    if (!host || !path) {
        free(host);
        free(path);
        return 0;
    }
    parts->host = host;
    parts->path = path;
    parts->https = startsWithNoCase(url, "https:");
    parts->port = colon ? leadingDecimal(colon + 1) : defaultPort(parts);
    return 1;
}

void freeUrlParts(UrlParts *parts) {
    free(parts->host);
    free(parts->path);
    parts->host = NULL;
    parts->path = NULL;
}

char *urlFileExtension(const char *url, char *dst, size_t max) {
    const char *slash = strrchr(url, '/');
    const char *dot = slash ? strrchr(slash, '.') : NULL;
    if (!dot) return NULL;
    const char *ext = dot + 1;
    const char *end = strchr(ext, '?');
    if (!end) end = strchr(ext, '#');
    if (end) {
        size_t n = (size_t)(end - ext);
        memcpy(dst, ext, n < max ? n : max);
    } else {
        strncpy(dst, ext, max);
    }
    return dst;
}
