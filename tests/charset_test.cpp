/* Character-set conversion: byte order, dropped characters and failures,
 * with the same results from every iconv. */
#include <gtest/gtest.h>

#include <string>

#include "charset.h"

/* Outcome of one conversion into a buffer of the given size. */
struct Converted {
    long result;
    std::string text;  // the bytes written
    size_t written;
    std::string buffer;
};

static Converted convert(const char *from, const char *to, const std::string &in, size_t size) {
    Converted c{0, "", 777, std::string(size, 'x')};
    c.result = convertCharset(from, to, in.data(), in.size(), &c.buffer[0], size, &c.written);
    if (c.written <= size) c.text = c.buffer.substr(0, c.written);
    return c;
}

TEST(Charset, UnknownCharsetLeavesOutputAlone) {
    Converted c = convert("NO-SUCH-SET", "GBK", "ab", 8);
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(c.written, 777u);
    EXPECT_EQ(c.buffer, std::string(8, 'x'));
}

TEST(Charset, Ucs2TakesByteOrderFromMarkAndDropsIt) {
    Converted le = convert("UCS-2", "GBK", std::string("\xFF\xFE" "a\0b\0", 6), 8);
    EXPECT_EQ(le.result, 0);
    EXPECT_EQ(le.text, "ab");
    EXPECT_EQ(le.buffer, std::string("ab\0xxxxx", 8));  // a NUL after the text
    EXPECT_EQ(convert("UCS-2", "GBK", std::string("\xFE\xFF\0a\0b", 6), 8).text, "ab");
    EXPECT_EQ(convert("UCS-2", "GBK", std::string("\0a\0b", 4), 8).text, "ab");  // no mark: big-endian
}

TEST(Charset, CharacterWithoutGbkFormIsDroppedAndConversionGoesOn) {
    std::string hangul("\xFF\xFE" "a\0\x00\xAC" "b\0", 8);  // U+AC00 between a and b
    Converted c = convert("UCS-2", "GBK", hangul, 8);
    EXPECT_NE(c.result, -1);
    EXPECT_EQ(c.text, "ab");
}

TEST(Charset, MalformedOrTooLargeFails) {
    Converted odd = convert("UCS-2", "GBK", std::string("\xFF\xFE" "a\0b", 5), 8);
    EXPECT_EQ(odd.result, -1);
    EXPECT_EQ(odd.text, "a");  // what came before the failure is kept
    Converted full = convert("UCS-2", "GBK", std::string("\xFF\xFE" "a\0b\0c\0", 8), 2);
    EXPECT_EQ(full.result, -1);
    EXPECT_EQ(full.written, 2u);
}

TEST(Charset, ChineseTextCrossesEveryBorder) {
    // 宝贝名称 is U+5B9D U+8D1D U+540D U+79F0
    const std::string ucs2le("\x9D\x5B\x1D\x8D\x0D\x54\xF0\x79", 8);
    EXPECT_EQ(convert("gbk", "UCS-2LE", "宝贝名称", 16).text, ucs2le);
    EXPECT_EQ(convert("UCS-2", "GBK", "\xFF\xFE" + ucs2le, 16).text, "宝贝名称");
    EXPECT_EQ(convert("utf-8", "gbk", u8"宝贝名称 ok", 16).text, "宝贝名称 ok");
}
