/* Splitting an image link into host, port and request path.
 *
 * Only the two forms that marketplace descriptions hold are known: absolute
 * links beginning with "http" and protocol-relative ones beginning with "//".
 * No user information, no IPv6 literals, no percent-decoding. */
#ifndef LUMORA_URL_H
#define LUMORA_URL_H

#include <stddef.h>

struct UrlParts {
    char *host; /* as written, without port; may be empty; owned */
    char *path; /* from the first "/" after the host to the end; owned */
    int port;   /* the explicit port, else the scheme's default */
    int https;  /* 1 for an "https:" link (in any letter case), fetched over TLS */
};

/* The ports that links without one use. */
enum { HTTP_DEFAULT_PORT = 80, HTTPS_DEFAULT_PORT = 443 };

/* Changes the default ports (tests point them at loopback servers). */
void setDefaultPorts(int http, int https);

/* The default port of the link's scheme. */
int defaultPort(const UrlParts *parts);

/* Fills parts from url. Returns 1, or 0 (nothing allocated, parts untouched)
 * when the link has the wrong scheme, no path, or a CR or LF anywhere, which
 * would inject lines into a request. */
int parseUrl(const char *url, UrlParts *parts);

/* Frees host and path and sets them to NULL; harmless twice. */
void freeUrlParts(UrlParts *parts);

/* Copies at most max characters of the link's file extension into dst (a
 * zeroed buffer of max + 1 bytes; no terminator is written when the copy is
 * cut) and returns dst, or returns NULL when the link has no extension. */
char *urlFileExtension(const char *url, char *dst, size_t max);

#endif
