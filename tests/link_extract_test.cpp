/* Image-link extraction: each pattern's form, the order and de-duplication
 * across patterns, the host and blank-image filters (cases in
 * tests/data/links), scan failures, and the scanner against PCRE. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "link_extract.h"
#include "test_support.h"

typedef std::vector<std::string> Links;

static Links toStrings(PtrVector *list) {
    Links out;
    for (int32_t i = 0; i < list->count; i++) out.push_back((char *)list->items[i]);
    ptrVectorDestroy(list, 1);
    return out;
}

/* The field sits alone in a buffer of its size, so that reading past it is
 * caught under the address sanitizer. */
TEST(Links, EveryFormOrderRepeatsAndFilters) {
    for (const Case &c : readCases("links/extract.tsv")) {
        char *field = (char *)malloc(c[1].size());
        memcpy(field, c[1].data(), c[1].size());
        PtrVector *list = ptrVectorCreate(4, 4);
        EXPECT_EQ((c[0] == "pc" ? extractDescriptionLinks : extractMobileLinks)(field, c[1].size(), list), 1);
        EXPECT_EQ(toStrings(list), Links(c.begin() + 2, c.end())) << c[1];
        free(field);
    }
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

static Links scanWith(const std::string &field, const std::string &pattern, const LinkPattern &p) {
    PtrVector *list = ptrVectorCreate(4, 4);
    EXPECT_EQ(scanDescriptionPattern(field.c_str(), field.size(), list, pattern.c_str(), p.groups, p.addressGroup), 1);
    return toStrings(list);
}

/* Fields built at random from the pieces the patterns care about, read by
 * the scanner and searched by PCRE with the same pattern. */
TEST(DescriptionLinks, ScannerFindsWhatASearchFinds) {
    static const char *pieces[] = {"<img", "<IMG", " ", "  src", "SRC", "=", "\"\"", "'", "http://a.example/",
                                   "HTTPS:", "//b.example/", "background", "BackGround", ":", "url(", ")", ">",
                                   "|", "<", "x.jpg", "</img>", "</IMG>", "宝贝", ".tmall.com/", "a=b"};
    std::vector<LinkPattern> patterns(DESCRIPTION_PATTERNS, DESCRIPTION_PATTERNS + DESCRIPTION_PATTERN_COUNT);
    patterns.push_back(MOBILE_PATTERN);
    unsigned seed = 2026;
    for (int n = 0; n < 3000; n++) {
        std::string field = "\"";
        for (int i = 0, count = 5 + (int)(seed % 60); i < count; i++) {
            seed = seed * 1103515245u + 12345u;
            field += pieces[(seed >> 16) % (sizeof pieces / sizeof *pieces)];
        }
        field += "\"";
        for (const LinkPattern &p : patterns)  // "(?:)" matches nothing, but makes the pattern one that is searched for
            ASSERT_EQ(scanWith(field, p.source, p), scanWith(field, std::string("(?:)") + p.source, p)) << p.source << "\n" << field;
    }
}
