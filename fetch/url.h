/* Splitting an image link into host, port and request path, resolving a
 * redirect's target against the link it answers, and writing a link the way
 * browsers send it.
 *
 * Only the two forms that marketplace descriptions hold are fetched:
 * absolute links beginning with "http" and protocol-relative ones beginning
 * with "//". Hosts may be IPv6 literals in brackets. No user information,
 * no percent-decoding. */
#ifndef LUMORA_URL_H
#define LUMORA_URL_H

#include <stddef.h>

#include <string>

struct UrlParts {
    char *host; /* as written, without port (an IPv6 literal keeps its brackets); may be empty; owned */
    char *path; /* from the first "/" after the host up to the fragment, which is never sent; owned */
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
 * when the link has the wrong scheme, no path, an unclosed IPv6 literal, or a
 * CR or LF anywhere, which would inject lines into a request. */
int parseUrl(const char *url, UrlParts *parts);

/* Frees host and path and sets them to NULL; harmless twice. */
void freeUrlParts(UrlParts *parts);

/* "host:port" with the host in lower case, as the per-host limits and the
 * connection tables compare names. */
std::string hostPort(const char *host, int port);

/* Copies at most max characters of the link's file extension into dst (a
 * zeroed buffer of max + 1 bytes; no terminator is written when the copy is
 * cut) and returns dst, or returns NULL when the link has no extension. */
char *urlFileExtension(const char *url, char *dst, size_t max);

/* The link that reference (a redirect's Location) stands for when it
 * answers base, as RFC 3986 resolves it: absolute, scheme-relative,
 * absolute-path or relative, with dot segments removed. The fragment is
 * dropped, and an empty path after a host becomes "/". */
std::string resolveLink(const std::string &base, const std::string &reference);

/* The link as a browser sends it: path and query percent-encoded as UTF-8
 * (from the package's GB18030 first when fromPackage is set), blanks and
 * the other characters a browser escapes escaped too, an existing %XX left
 * alone, and the fragment cut off. Scheme and host stay as written. */
std::string requestLink(const std::string &link, int fromPackage);

#endif
