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

TEST(ReplaceAll, ReplacesLeftToRightWithoutOverlapOrRecursion) {
    EXPECT_EQ(replaced("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaced("ab", "a", "aa"), "aab");
    EXPECT_EQ(replaced("x_.webpy_.webp", "_.webp", ""), "xy");
    EXPECT_EQ(replaced("abc", "abc", ""), "");
}

TEST(ReplaceAll, ReturnsNullInsteadOfACopy) {
    EXPECT_EQ(replaced("abc", "x", "y"), "<null>");
    EXPECT_EQ(replaced("", "a", "b"), "<null>");
    EXPECT_EQ(replaced("abc", "", "b"), "<null>");
    EXPECT_EQ(replaced("abc", "a", NULL), "<null>");
}

TEST(ReplaceAll, ManyOccurrencesGrowAndShrinkToExactSize) {
    std::string text, longer, shorter;
    for (int i = 0; i < 1000; i++) {  // past the first block of remembered offsets
        text += "<img src=\"http://a.example/" + std::to_string(i) + ".jpg\">";
        longer += "<img src=\"D:\\images\\" + std::to_string(i) + ".jpg\">";
        shorter += "<img src=\"" + std::to_string(i) + ".jpg\">";
    }
    std::string once = replaced(text.c_str(), "http://a.example/", "D:\\images\\");
    EXPECT_EQ(once, longer);
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
    EXPECT_EQ(startsWithNoCase("Content-Length: 12", "content-length:"), 1);
    EXPECT_EQ(startsWith("Content-Length: 12", "content-length:"), 0);
    EXPECT_EQ(startsWith("HTTP/1.1", "HTTP/"), 1);
    EXPECT_EQ(endsWithNoCase("photo.JPG", ".jpg"), 1);
    EXPECT_EQ(endsWithNoCase("jpg", ".jpg"), 0);      // shorter than the suffix
    EXPECT_EQ(startsWith("abc", ""), 0);              // empty prefix matches only empty text
    EXPECT_EQ(startsWith("", ""), 1);
    EXPECT_EQ(endsWithNoCase("", ""), 1);
    EXPECT_EQ(startsWithNoCase("宝贝", "宝"), 1);
    EXPECT_EQ(endsWithNoCase("\xC4\xE3", "\xE4\xC3"), 0);  // only ASCII letters fold
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
