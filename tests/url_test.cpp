/* Link splitting, file extensions, response header facts and the request
 * text: tables of input and expected output. */
#include <gtest/gtest.h>

#include <string>

#include "http_exchange.h"
#include "http_header.h"
#include "url.h"

TEST(ParseUrl, SplitsHostPortAndPath) {
    struct Case { const char *url; const char *host; int port; const char *path; int https; };
    const Case cases[] = {
        {"http://h/a.jpg", "h", 80, "/a.jpg", 0},       {"https://h/a.jpg", "h", 443, "/a.jpg", 1},
        {"//h/p?q=1#f", "h", 80, "/p?q=1#f", 0},        {"http://h:8080/x", "h", 8080, "/x", 0},
        {"http://h:/x", "h", 0, "/x", 0},               {"http://:81/x", "", 81, "/x", 0},
        {"http:///x", "", 80, "/x", 0},                 {"HTTP://h/x", "h", 80, "/x", 0},
        {"hTtPs://h:80/x", "h", 80, "/x", 1},           {"httpsx://h/x", "h", 80, "/x", 0},
        {"http://h:99999999999/x", "h", 2147483647, "/x", 0},
    };
    for (const Case &c : cases) {
        UrlParts parts = {NULL, NULL, -7, 0};
        ASSERT_EQ(parseUrl(c.url, &parts), 1) << c.url;
        EXPECT_STREQ(parts.host, c.host) << c.url;
        EXPECT_EQ(parts.port, c.port) << c.url;
        EXPECT_STREQ(parts.path, c.path) << c.url;
        EXPECT_EQ(parts.https, c.https) << c.url;
        freeUrlParts(&parts);
        freeUrlParts(&parts);  // a second free is harmless
    }
}

TEST(ParseUrl, RefusesWhatCannotBeRequested) {
    for (const char *url : {"http://h", "ftp://h/x", "http:/", "", "http://h/a\r\nX-Injected: 1", "//h/a\n"}) {
        UrlParts parts = {NULL, NULL, -7, 0};
        EXPECT_EQ(parseUrl(url, &parts), 0) << url;
        EXPECT_EQ(parts.port, -7);  // untouched
    }
}

TEST(UrlFileExtension, TakesTheTailAfterTheLastDot) {
    struct Case { const char *url; const char *ext; };
    const Case cases[] = {
        {"http://h/a/b.png", "png"}, {"http://h/a/b.jpeg?x=1", "jpeg"}, {"http://h/a/b", NULL}, {"http://h/a.b/c", NULL},
        {"http://h/a/b.toolongext", "toolong"}, {"http://h/a/b.jpg?v=1.2", "2"}, {"http://h/a/b?x=c.d", "d"},
        {"http://h/a/b.", ""}, {"http://h/a/b.gif#top", "gif"},
    };
    for (const Case &c : cases) {
        char ext[8] = {0};
        EXPECT_EQ(urlFileExtension(c.url, ext, 7), c.ext ? ext : nullptr) << c.url;
        if (c.ext) {
            EXPECT_STREQ(ext, c.ext) << c.url;  // the eighth byte stays 0 even when cut
        }
    }
}

static HttpHeader parsed(std::string text) {
    HttpHeader h = {};
    parseHttpHeader(&text[0], &h);
    return h;
}

TEST(HttpHeaderParse, TakesTheFiveFacts) {
    HttpHeader h = parsed("HTTP/1.1 200 OK\r\ncontent-length: 42\r\nTransfer-Encoding: Chunked\r\n"
                          "Location: http://h/b.jpg_.webp\r\nConnection: close \r\nContent-Encoding: gzip");
    EXPECT_EQ(h.contentLength, 42);
    EXPECT_EQ(h.isChunked, 1);
    EXPECT_STREQ(h.location, "http://h/b.jpg_.webp");
    EXPECT_STREQ(h.connection, "close ");  // taken verbatim
    EXPECT_STREQ(h.contentEncoding, "gzip");

    HttpHeader other = parsed("HTTP/1.1 200 OK\nContent-Length: 5\n\nContent-Length: 7\nTransfer-Encoding: gzip, chunked\n"
                              "Content-Length:9\nConnection: " + std::string(100, 'k'));
    EXPECT_EQ(other.contentLength, 7);  // the later line wins; no blank after the colon is no match
    EXPECT_EQ(other.isChunked, 0);
    EXPECT_EQ(std::string(other.connection), std::string(15, 'k'));  // cut to fit
    EXPECT_EQ(parsed("HTTP/1.1 200 OK").contentLength, -1);
    EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\nContent-Length: abc").contentLength, 0);
}

TEST(HttpRequestText, NamesThePortUnlessItIsTheSchemesOwn) {
    struct Case { int port, https; const char *host; };
    for (const Case &c : {Case{80, 0, "h\r\n"}, Case{8080, 0, "h:8080\r\n"}, Case{443, 1, "h\r\n"}, Case{80, 1, "h:80\r\n"}}) {
        UrlParts parts = {(char *)"h", (char *)"/", c.port, c.https};
        EXPECT_NE(httpRequest(parts, 0).find(std::string("\r\nHost: ") + c.host), std::string::npos) << c.host;
    }
}
