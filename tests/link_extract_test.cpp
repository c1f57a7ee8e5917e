/* Image-link extraction: each pattern's form, the order and de-duplication
 * across patterns, the host and blank-image filters, and scan failures. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "deployment.h"
#include "link_extract.h"
#include "test_support.h"

static std::vector<std::string> toStrings(PtrVector *list) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list->count; i++) out.push_back((char *)list->items[i]);
    ptrVectorDestroy(list, 1);
    return out;
}

typedef std::vector<std::string> Links;

static Links extracted(int (*extract)(const char *, size_t, PtrVector *), const std::string &field) {
    PtrVector *list = ptrVectorCreate(4, 4);
    EXPECT_EQ(extract(field.c_str(), field.size(), list), 1);
    return toStrings(list);
}

static std::string skippedHosts() {
    std::string out;
    for (const char *marker : SKIPPED_HOST_MARKERS) out += std::string("<img src=\"\"http://img") + marker + "a.jpg\"\">";
    return out;
}

/* Raw fields (as they stand in the package, quotes doubled) and the
 * addresses they yield, in pattern order without repeats. */
TEST(Links, EveryFormOrderRepeatsAndFilters) {
    const std::string blank = BLANK_IMAGE_URL;
    struct Case { bool mobile; std::string field; Links links; };
    const Case cases[] = {
        {0, "\"<IMG SRC=\"\"HTTP://a.example/1.jpg\"\">\"", {"HTTP://a.example/1.jpg"}},
        {0, "\"<img alt=\"\"x\"\" src=\"\" https://a.example/2.jpg\"\" />\"", {"https://a.example/2.jpg"}},
        {0, "\"<img src='http://a.example/3.jpg'>\"", {"http://a.example/3.jpg"}},
        {0, "\"<img src=//a.example/4.jpg width=1><img src=http://a.example/5.jpg|x>\"",
         {"//a.example/4.jpg", "http://a.example/5.jpg"}},
        {0, "\"<img src=http://a.example/6.jpg>\"", {"http://a.example/6.jpg"}},
        {0, "\"<td background=\"\"http://a.example/7.jpg\"\">\"", {"http://a.example/7.jpg"}},
        {0, "\"<td background='http://a.example/8.jpg'><td BACKGROUND=http://a.example/9.jpg>\"",
         {"http://a.example/8.jpg", "http://a.example/9.jpg"}},
        {0, "\"<div style=\"\"background:url(&quot;x&quot;);background : url( http://a.example/10.jpg)\"\">\"",
         {"http://a.example/10.jpg"}},
        {0, "\"<p style='background:url(\"\"http://a.example/11.jpg\"\")'>\"", {"http://a.example/11.jpg"}},
        {0, "\"<p style=\"\"background:url('//a.example/12.jpg')\"\">\"", {"//a.example/12.jpg"}},
        {0, "\"<img src=\"\"ftp://a.example/13.jpg\"\"><img src=\"\"a.jpg\"\">\"", {}},
        {0, "\"<table background=\"\"http://a.example/bg.jpg\"\"><img src=\"\"http://a.example/1.jpg\"\">"
            "<img src=\"\"http://a.example/bg.jpg\"\"><img src=\"\"http://a.example/1.jpg\"\">"
            "<img src='http://a.example/1.jpg'>\"",
         {"http://a.example/1.jpg", "http://a.example/bg.jpg"}},
        {0, "\"" + skippedHosts() + "<img src=\"\"" + blank + "\"\"><img src=\"\"" + blank + "?x\"\">\"", {blank + "?x"}},
        // mobile details keep marketplace hosts and the blank image
        {1, "\"<wapDesc><img>http://img.taobao.com/a.jpg</img><img>" + blank + "</img></wapDesc>\"",
         {"http://img.taobao.com/a.jpg", blank}},
        {1, "\"<wapDesc><img size=\"\"750x1000\"\">https://m.example/1.jpg</img><txt>说明</txt>"
            "<IMG>//m.example/2.jpg</IMG><img>http://m.example/3.jpg<txt>x</txt></img>"
            "<img>https://m.example/1.jpg</img><img>not-a-link</img></wapDesc>\"",
         {"https://m.example/1.jpg", "//m.example/2.jpg"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(extracted(c.mobile ? extractMobileLinks : extractDescriptionLinks, c.field), c.links) << c.field;
}

TEST(ScanFailures, AreLoggedAndKeepWhatWasFound) {
    ScratchDir dir;
    openAppLog(dir.path().c_str());
    PtrVector *list = ptrVectorCreate(32, 16);
    std::string field = "\"<img src=\"\"http://a.example/1.jpg\"\">\"";
    EXPECT_EQ(extractDescriptionLinks(field.c_str(), field.size(), list), 1);
    EXPECT_EQ(scanDescriptionPattern("x", 1, list, "(", 1, 1), 0);
    EXPECT_EQ(toStrings(list), Links{"http://a.example/1.jpg"});
    std::string log = readFile(dir.file("app.log"));
    EXPECT_NE(log.find(" PCRE compilation failed at offset 1: missing )\r\n"), std::string::npos) << log;
}

/* Fields built at random from the pieces the patterns care about, read by
 * the scanner and searched by PCRE with the same pattern. */
static std::string randomField(unsigned &seed) {
    static const char *pieces[] = {"<img", "<IMG", " ", "  src", "SRC", "=", "\"\"", "'", "http://a.example/",
                                   "HTTPS:", "//b.example/", "background", "BackGround", ":", "url(", ")", ">",
                                   "|", "<", "x.jpg", "</img>", "</IMG>", "宝贝", ".tmall.com/", "a=b"};
    std::string field = "\"";
    int count = 5 + (int)(seed % 60);
    for (int i = 0; i < count; i++) {
        seed = seed * 1103515245u + 12345u;
        field += pieces[(seed >> 16) % (sizeof pieces / sizeof *pieces)];
    }
    return field + "\"";
}

static Links scanWith(const std::string &field, const std::string &pattern, const LinkPattern &p) {
    PtrVector *list = ptrVectorCreate(4, 4);
    EXPECT_EQ(scanDescriptionPattern(field.c_str(), field.size(), list, pattern.c_str(), p.groups, p.addressGroup), 1);
    return toStrings(list);
}

TEST(DescriptionLinks, ScannerFindsWhatASearchFinds) {
    std::vector<LinkPattern> patterns(DESCRIPTION_PATTERNS, DESCRIPTION_PATTERNS + DESCRIPTION_PATTERN_COUNT);
    patterns.push_back(MOBILE_PATTERN);
    unsigned seed = 2026;
    for (int n = 0; n < 3000; n++) {
        std::string field = randomField(seed);
        for (const LinkPattern &p : patterns) {
            // "(?:)" matches nothing, but makes the pattern one that is searched for
            ASSERT_EQ(scanWith(field, p.source, p), scanWith(field, std::string("(?:)") + p.source, p))
                << p.source << "\n" << field;
        }
    }
}
