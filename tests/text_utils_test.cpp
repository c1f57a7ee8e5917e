/* Text utilities: replacement counts and sizes, the in-place tokenizer and
 * the prefix and suffix rules. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "text_utils.h"

/* replaceAll as a std::string; "<null>" when it returns NULL. */
static std::string replaced(const char *text, const char *pattern, const char *replacement) {
    char *out = replaceAll(text, pattern, replacement);
    std::string result = out ? out : "<null>";
    free(out);
    return result;
}

/* Left to right, without overlap or recursion; NULL instead of a copy. */
TEST(ReplaceAll, ReplacesLeftToRightOrReturnsNull) {
    struct Case { const char *text, *pattern, *replacement, *expected; };
    const Case cases[] = {{"aaa", "aa", "b", "ba"},    {"ab", "a", "aa", "aab"},  {"x_.webpy_.webp", "_.webp", "", "xy"},
                          {"abc", "abc", "", ""},      {"abc", "x", "y", "<null>"}, {"", "a", "b", "<null>"},
                          {"abc", "", "b", "<null>"}, {"abc", "a", NULL, "<null>"}};
    for (const Case &c : cases) EXPECT_EQ(replaced(c.text, c.pattern, c.replacement), c.expected) << c.text;
}

TEST(ReplaceAll, ManyOccurrencesGrowAndShrinkToExactSize) {
    std::string text, longer, shorter;
    for (int i = 0; i < 1000; i++) {  // past the first block of remembered offsets
        text += "<img src=\"http://a.example/" + std::to_string(i) + ".jpg\">";
        longer += "<img src=\"D:\\images\\" + std::to_string(i) + ".jpg\">";
        shorter += "<img src=\"" + std::to_string(i) + ".jpg\">";
    }
    EXPECT_EQ(replaced(text.c_str(), "http://a.example/", "D:\\images\\"), longer);
    EXPECT_EQ(replaced(text.c_str(), "http://a.example/", ""), shorter);
}

TEST(NextToken, CutsInPlaceAndYieldsEmptyTokens) {
    char text[] = "a\tb\t\t";
    char *cursor = text;
    for (const char *expected : {"a", "b", "", ""}) EXPECT_STREQ(nextToken(&cursor, "\t"), expected);
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(nextToken(&cursor, "\t"), nullptr);
}

TEST(Affixes, CaseRulesAndEmptyAffixes) {
    struct Case { int (*test)(const char *, const char *); const char *text, *affix; int result; };
    const Case cases[] = {
        {startsWithNoCase, "Content-Length: 12", "content-length:", 1}, {startsWith, "Content-Length: 12", "content-length:", 0},
        {startsWith, "HTTP/1.1", "HTTP/", 1}, {endsWithNoCase, "photo.JPG", ".jpg", 1},
        {endsWithNoCase, "jpg", ".jpg", 0},  // shorter than the suffix
        {startsWith, "abc", "", 0},          // empty prefix matches only empty text
        {startsWith, "", "", 1}, {endsWithNoCase, "", "", 1}, {startsWithNoCase, "宝贝", "宝", 1},
        {endsWithNoCase, "\xC4\xE3", "\xE4\xC3", 0},  // only ASCII letters fold
    };
    for (const Case &c : cases) EXPECT_EQ(c.test(c.text, c.affix), c.result) << c.text << " " << c.affix;
}

/* "繽" ends in the byte "_": its "_.webp" is no suffix to cut. */
TEST(ReplaceAllChars, LeavesDoubleByteCharactersWhole) {
    ASSERT_EQ(std::string("繽").substr(1), "_");
    char *out = replaceAllChars("繽.webp a.jpg_.webp 繽_.webp", "_.webp", "");
    EXPECT_STREQ(out, "繽.webp a.jpg 繽");
    free(out);
    EXPECT_EQ(replaceAllChars("繽.webp", "_.webp", ""), nullptr);
    EXPECT_EQ(isCharStart("繽.webp", 1), 0);
    EXPECT_EQ(isCharStart("a繽_.webp", 3), 1);
}
