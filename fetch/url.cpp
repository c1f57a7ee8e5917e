/* Link splitting, resolution and request form; see url.h. Resolution
 * follows RFC 3986 section 5.2 step by step on the five components; escaping
 * works on the UTF-8 bytes with the sets a browser uses for path and query. */
#include "url.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "charset.h"
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

/* Where the port's ":" is looked for: behind an IPv6 literal's "]", else in
 * the whole host part. NULL for a literal that is not closed, or closed and
 * followed by anything but the port or the path. */
static const char *portSearchStart(const char *hostStart, const char *pathStart) {
    if (*hostStart != '[') return hostStart;
    const char *close = (const char *)memchr(hostStart, ']', (size_t)(pathStart - hostStart));
    if (!close || (close + 1 != pathStart && close[1] != ':')) return NULL;
    return close + 1;
}

int parseUrl(const char *url, UrlParts *parts) {
    if (!startsWithNoCase(url, "http") && !startsWithNoCase(url, "//")) return 0;
    if (strpbrk(url, "\r\n")) return 0;
    const char *slash = strchr(url, '/');
    if (!slash || !slash[1]) return 0;
    const char *hostStart = slash + 2;
    const char *pathStart = strchr(hostStart, '/');
    if (!pathStart) return 0;
    const char *portSearch = portSearchStart(hostStart, pathStart);
    if (!portSearch) return 0;
    const char *colon = (const char *)memchr(portSearch, ':', (size_t)(pathStart - portSearch));
    const char *hostEnd = colon ? colon : pathStart;
    char *host = copyBytes(hostStart, (size_t)(hostEnd - hostStart));
    char *path = copyBytes(pathStart, strcspn(pathStart, "#"));
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

std::string hostPort(const char *host, int port) {
    return lowerAscii(host) + ":" + std::to_string(port);
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

namespace {

/* A reference split into RFC 3986's components; the fragment is dropped. */
struct Reference {
    std::string scheme, authority, path, query;
    bool hasScheme = false, hasAuthority = false, hasQuery = false;
};

}  // namespace

/* 1 when text[0, end) is a scheme: a letter, then letters, digits, "+-.". */
static int isScheme(const std::string &text, size_t end) {
    if (end == 0 || !isalpha((unsigned char)text[0])) return 0;
    for (size_t i = 1; i < end; i++)
        if (!isalnum((unsigned char)text[i]) && !strchr("+-.", text[i])) return 0;
    return 1;
}

/* The components of text, as RFC 3986 section 3 splits them. */
static Reference splitReference(const std::string &text) {
    Reference r;
    std::string rest = text.substr(0, text.find('#'));
    size_t colon = rest.find_first_of(":/?");
    if (colon != std::string::npos && rest[colon] == ':' && isScheme(rest, colon)) {
        r.hasScheme = true;
        r.scheme = rest.substr(0, colon);
        rest.erase(0, colon + 1);
    }
    if (rest.compare(0, 2, "//") == 0) {
        size_t end = rest.find_first_of("/?", 2);
        r.hasAuthority = true;
        r.authority = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        rest.erase(0, end);
    }
    size_t question = rest.find('?');
    r.path = rest.substr(0, question);
    if (question != std::string::npos) {
        r.hasQuery = true;
        r.query = rest.substr(question + 1);
    }
    return r;
}

/* Drops the last segment of out, and its "/". */
static void dropLastSegment(std::string *out) {
    size_t cut = out->rfind('/');
    out->erase(cut == std::string::npos ? 0 : cut);
}

/* RFC 3986 section 5.2.4, in one pass over the input. */
static std::string removeDotSegments(const std::string &in) {
    std::string out;
    size_t i = 0, n = in.size();
    auto rest = [&](const char *s) { return in.compare(i, std::string::npos, s) == 0; };
    auto ahead = [&](const char *s) { return in.compare(i, strlen(s), s) == 0; };
    while (i < n) {
        if (ahead("../")) {
            i += 3;
        } else if (ahead("./") || ahead("/./")) {
            i += 2;
        } else if (ahead("/../")) {
            dropLastSegment(&out);
            i += 3;
        } else if (rest("/.") || rest("/..")) {
            if (rest("/..")) dropLastSegment(&out);
            out += '/';
            i = n;
        } else if (rest(".") || rest("..")) {
            i = n;
        } else {
            size_t next = in.find('/', i + 1);
            if (next == std::string::npos) next = n;
            out.append(in, i, next - i);
            i = next;
        }
    }
    return out;
}

/* RFC 3986 section 5.2.3: a relative path joined to the base's. */
static std::string mergePaths(const Reference &base, const std::string &path) {
    if (base.hasAuthority && base.path.empty()) return "/" + path;
    size_t slash = base.path.rfind('/');
    return slash == std::string::npos ? path : base.path.substr(0, slash + 1) + path;
}

std::string resolveLink(const std::string &baseText, const std::string &reference) {
    Reference base = splitReference(baseText), r = splitReference(reference), t = r;
    t.path = removeDotSegments(r.path);
    if (!r.hasScheme) {
        t.hasScheme = base.hasScheme;
        t.scheme = base.scheme;
    }
    if (!r.hasScheme && !r.hasAuthority) {
        t.hasAuthority = base.hasAuthority;
        t.authority = base.authority;
        if (r.path.empty()) t.path = base.path;
        else if (r.path[0] != '/') t.path = removeDotSegments(mergePaths(base, r.path));
        if (r.path.empty() && !r.hasQuery) {
            t.hasQuery = base.hasQuery;
            t.query = base.query;
        }
    }
    if (t.hasAuthority && t.path.empty()) t.path = "/";
    std::string link = t.hasScheme ? t.scheme + ":" : "";
    if (t.hasAuthority) link += "//" + t.authority;
    link += t.path;
    if (t.hasQuery) link += "?" + t.query;
    return link;
}

/* Characters escaped in a path and in a query besides controls, blanks and
 * bytes above 0x7E, as browsers do. */
static const char PATH_ESCAPED[] = "\"<>`{}";
static const char QUERY_ESCAPED[] = "\"<>'";

/* Appends part, escaped; a "%" that begins no %XX is escaped itself. */
static void appendEscaped(std::string *out, const std::string &part, const char *escaped) {
    static const char HEX[] = "0123456789ABCDEF";
    for (size_t i = 0; i < part.size(); i++) {
        unsigned char c = (unsigned char)part[i];
        int encoded = c == '%' && i + 2 < part.size() && isxdigit((unsigned char)part[i + 1]) &&
                      isxdigit((unsigned char)part[i + 2]);
        if (c <= 0x20 || c >= 0x7F || strchr(escaped, c) || (c == '%' && !encoded)) {
            *out += '%';
            *out += HEX[c >> 4];
            *out += HEX[c & 15];
        } else {
            *out += (char)c;
        }
    }
}

/* The UTF-8 form of the package's text (GB18030, GBK wherever GBK has the
 * character); the text itself when it is ASCII or does not convert whole.
 * A byte gives at most three bytes of UTF-8. */
static std::string utf8FromPackageText(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && (unsigned char)text[i] < 0x80) i++;
    if (i == text.size()) return text;
    std::string utf8(text.size() * 3 + 1, '\0');
    size_t written = 0;
    if (convertCharset("GB18030", "utf-8", text.data(), text.size(), &utf8[0], utf8.size(), &written) != 0) return text;
    utf8.resize(written);
    return utf8;
}

std::string requestLink(const std::string &link, int fromPackage) {
    size_t slash = link.find('/');
    size_t start = slash == std::string::npos ? slash : link.find('/', slash + 2);
    if (start == std::string::npos) return link.substr(0, link.find('#'));
    std::string tail = link.substr(start, link.find('#', start) - start);
    if (fromPackage) tail = utf8FromPackageText(tail);
    size_t question = tail.find('?');
    std::string out = link.substr(0, start);
    appendEscaped(&out, tail.substr(0, question), PATH_ESCAPED);
    if (question == std::string::npos) return out;
    out += '?';
    appendEscaped(&out, tail.substr(question + 1), QUERY_ESCAPED);
    return out;
}
