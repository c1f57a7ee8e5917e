/* The portable building blocks: link splitting and response headers, text
 * utilities, character sets, paths, the pointer vector and the string map.
 * Input and expected output tables live under tests/data/unit. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "charset.h"
#include "file_helpers.h"
#include "http_header.h"
#include "paths.h"
#include "platform.h"
#include "ptr_vector.h"
#include "str_map.h"
#include "test_support.h"
#include "text_utils.h"
#include "url.h"

static const char *orNull(const std::string &s) { return s == "(null)" ? NULL : s.c_str(); }
static std::string shown(const char *s) { return s ? s : "(null)"; }

TEST(ParseUrl, SplitsHostPortAndPathOrRefuses) {
    for (const Case &c : readCases("unit/parse_url.tsv")) {
        UrlParts parts = {NULL, NULL, -7, 0};
        ASSERT_EQ(parseUrl(c[0].c_str(), &parts), c.size() > 1) << c[0];
        if (c.size() == 1) EXPECT_EQ(parts.port, -7);  // untouched
        else EXPECT_EQ((Case{c[0], parts.host, std::to_string(parts.port), parts.path, std::to_string(parts.https)}), c);
        freeUrlParts(&parts);
        freeUrlParts(&parts);  // a second free is harmless
    }
}

TEST(UrlFileExtension, TakesTheTailAfterTheLastDot) {
    for (const Case &c : readCases("unit/url_extension.tsv")) {
        char ext[8] = {0};  // the eighth byte stays 0 even when cut
        EXPECT_EQ(shown(urlFileExtension(c[0].c_str(), ext, 7)), c[1]) << c[0];
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
    EXPECT_TRUE(h.contentLength == 42 && h.isChunked == 1);
    EXPECT_EQ(std::string(h.location) + "|" + h.connection + "|" + h.contentEncoding, "http://h/b.jpg_.webp|close |gzip");
    HttpHeader other = parsed("HTTP/1.1 200 OK\nContent-Length: 5\n\nContent-Length: 7\nTransfer-Encoding: gzip, chunked\n"
                              "Content-Length:9\nConnection: " + std::string(100, 'k'));
    EXPECT_EQ(other.contentLength, 7);  // the later line wins; no blank after the colon is no match
    EXPECT_EQ(other.isChunked, 0);
    EXPECT_EQ(std::string(other.connection), std::string(15, 'k'));  // cut to fit
    EXPECT_EQ(parsed("HTTP/1.1 200 OK").contentLength, -1);
    EXPECT_EQ(parsed("HTTP/1.1 200 OK\r\nContent-Length: abc").contentLength, 0);
}

TEST(ReplaceAll, ReplacesLeftToRightOrReturnsNull) {
    for (const Case &c : readCases("unit/replace_all.tsv")) {
        char *out = replaceAll(c[0].c_str(), c[1].c_str(), orNull(c[2]));
        EXPECT_EQ(shown(out), c[3]) << c[0] << " " << c[1];
        free(out);
    }
    std::string text, longer, shorter;
    for (int i = 0; i < 1000; i++) {  // past the first block of remembered offsets
        text += "<img src=\"http://a.example/" + std::to_string(i) + ".jpg\">";
        longer += "<img src=\"D:\\images\\" + std::to_string(i) + ".jpg\">";
        shorter += "<img src=\"" + std::to_string(i) + ".jpg\">";
    }
    for (const std::string &to : {longer, shorter}) {
        char *out = replaceAll(text.c_str(), "http://a.example/", to == longer ? "D:\\images\\" : "");
        EXPECT_EQ(shown(out), to);
        free(out);
    }
}

/* "繽" ends in the byte "_": its "_.webp" is no suffix to cut. */
TEST(ReplaceAllChars, LeavesDoubleByteCharactersWhole) {
    char *out = replaceAllChars("繽.webp a.jpg_.webp 繽_.webp", "_.webp", "");
    EXPECT_STREQ(out, "繽.webp a.jpg 繽");
    free(out);
    EXPECT_EQ(replaceAllChars("繽.webp", "_.webp", ""), nullptr);
    EXPECT_EQ(isCharStart("繽.webp", 1), 0);
    EXPECT_EQ(isCharStart("a繽_.webp", 3), 1);
}

TEST(TextUtils, AffixRulesAndTheInPlaceTokenizer) {
    const std::map<std::string, int (*)(const char *, const char *)> tests = {
        {"startsWith", startsWith}, {"startsWithNoCase", startsWithNoCase}, {"endsWithNoCase", endsWithNoCase}};
    for (const Case &c : readCases("unit/affixes.tsv"))
        EXPECT_EQ(tests.at(c[0])(c[1].c_str(), c[2].c_str()), std::stoi(c[3])) << c[0] << " " << c[1];
    char text[] = "a\tb\t\t";
    char *cursor = text;
    for (const char *expected : {"a", "b", "", ""}) EXPECT_STREQ(nextToken(&cursor, "\t"), expected);
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(nextToken(&cursor, "\t"), nullptr);
}

/* Converts into a buffer of size bytes filled with 'x'; the result, the
 * count written and the whole buffer. */
static std::string convert(const char *from, const std::string &in, size_t size, const char *to = "GBK") {
    std::string buffer(size, 'x');
    size_t written = 777;
    long result = convertCharset(from, to, in.data(), in.size(), &buffer[0], size, &written);
    return std::to_string(result) + " " + std::to_string(written) + " " + buffer;
}

TEST(Charset, ByteOrderDroppedCharactersAndFailures) {
    const std::string mark("\xFF\xFE"), ab("a\0b\0", 4);
    EXPECT_EQ(convert("NO-SUCH-SET", "ab", 4), "-1 777 xxxx");
    EXPECT_EQ(convert("UCS-2", mark + ab, 4), std::string("0 2 ab\0x", 8));  // a NUL after the text
    EXPECT_EQ(convert("UCS-2", std::string("\xFE\xFF\0a\0b", 6), 2), "0 2 ab");
    EXPECT_EQ(convert("UCS-2", std::string("\0a\0b", 4), 2), "0 2 ab");  // no mark: big-endian
    EXPECT_EQ(convert("UCS-2", mark + std::string("a\0\x00\xAC" "b\0", 6), 2).substr(2), "2 ab");  // U+AC00 dropped
    EXPECT_EQ(convert("UCS-2", mark + std::string("a\0b", 3), 2), std::string("-1 1 a\0", 7));  // odd length: what came before is kept
    EXPECT_EQ(convert("UCS-2", mark + ab + std::string("c\0", 2), 2).substr(0, 5), "-1 2 ");
    // 宝贝名称 is U+5B9D U+8D1D U+540D U+79F0
    const std::string ucs2le("\x9D\x5B\x1D\x8D\x0D\x54\xF0\x79", 8);
    EXPECT_EQ(convert("gbk", "宝贝名称", 8, "UCS-2LE"), "0 8 " + ucs2le);
    EXPECT_EQ(convert("UCS-2", mark + ucs2le, 8), "0 8 宝贝名称");
    EXPECT_EQ(convert("utf-8", u8"宝贝名称 ok", 11), "0 11 宝贝名称 ok");
}

static const std::string SEP(1, PATH_SEPARATOR);

static std::string cut(std::string path) {
    cutAtLastSeparator(&path[0]);
    return path.c_str();
}

TEST(Paths, FileNamesFoldersAndJoins) {
    EXPECT_STREQ(fileName(("dir" + SEP + "a.jpg").c_str()), "a.jpg");
    EXPECT_STREQ(fileName(("dir" + SEP).c_str()), "");
    EXPECT_STREQ(fileName("a.jpg"), "a.jpg");
    EXPECT_STREQ(fileName(("d" + SEP + "\x95\x5C.jpg").c_str()), "\x95\x5C.jpg");  // a GBK byte 0x5C is no separator
    EXPECT_EQ(cut("x" + SEP + "bin" + SEP + "lumora"), "x" + SEP + "bin");
    EXPECT_EQ(cut(SEP + "lumora"), SEP);  // the root keeps its separator
    EXPECT_EQ(cut("C:" + SEP + "lumora.exe"), "C:" + SEP);
    EXPECT_EQ(cut("lumora"), "lumora");
    char out[16];
    EXPECT_EQ(joinPath(out, sizeof out, "dir", "app.log"), 1);
    EXPECT_EQ(std::string(out), "dir" + SEP + "app.log");
    EXPECT_EQ(joinPath(out, sizeof out, ("C:" + SEP).c_str(), "app.log"), 1);
    EXPECT_EQ(std::string(out), "C:" + SEP + "app.log");
    EXPECT_EQ(joinPath(out, sizeof out, "a-long-folder", "app.log"), 0);
    EXPECT_STREQ(out, "");
    char text[5];
    EXPECT_EQ(pathToText("abcde", text, sizeof text), 0);  // no room for the end
    EXPECT_EQ(pathToText("abcd", text, sizeof text), 1);
    char dir[PATH_SIZE];
    ASSERT_EQ(programFolder(dir, sizeof dir), 1);
    EXPECT_TRUE(isDirectory(dir) == 1 && fileExists(dir) == 0);  // a folder is not a file
}

#ifdef _WIN32
TEST(Paths, WindowsTakesForwardSlashesForSeparators) {
    EXPECT_STREQ(fileName("Z:\\data/sub\\pkg.csv"), "pkg.csv");
    char mixed[] = "Z:/data\\sub/\x95/x";  // no GBK character ends in "/"
    useNativeSeparators(mixed);
    EXPECT_STREQ(mixed, "Z:\\data\\sub\\\x95\\x");
    char out[16];
    EXPECT_EQ(joinPath(out, sizeof out, "C:/dir/", "a"), 1);
    EXPECT_STREQ(out, "C:/dir/a");
}
#endif

static std::string contents(const PtrVector *v) {
    std::string out;
    for (int32_t i = 0; i < v->count; i++) out += (char *)v->items[i];
    return out;
}

TEST(PtrVector, GrowsInsertsRemovesAndChecksRanges) {
    PtrVector *defaults = ptrVectorCreate(0, -5);
    EXPECT_TRUE(defaults->capacity == 10 && defaults->growBy == 10);
    ptrVectorDestroy(defaults, 0);
    PtrVector *v = ptrVectorCreate(2, 1);
    EXPECT_EQ(ptrVectorPush(v, strdup("b")), 1);
    EXPECT_EQ(ptrVectorInsertAt(v, -3, strdup("a")), 1);  // below 0 counts as 0
    EXPECT_EQ(ptrVectorInsertAt(v, 99, strdup("d")), 1);  // past the end appends
    EXPECT_EQ(ptrVectorInsertAt(v, 2, strdup("c")), 1);
    EXPECT_EQ(ptrVectorPush(v, strdup("b")), 5);
    EXPECT_EQ(contents(v), "abcdb");
    EXPECT_EQ(v->capacity, 5);
    char key[] = "b";  // equal content, another pointer
    EXPECT_TRUE(ptrVectorContains(v, key, stringEquals) && ptrVectorFindLast(v, key, stringEquals) == 4);
    char *removed = (char *)ptrVectorGet(v, 1);
    EXPECT_EQ(ptrVectorRemoveFirst(v, key, stringEquals), 1);
    free(removed);
    EXPECT_EQ(v->items[4], nullptr);  // the vacated slot is cleared
    free(ptrVectorRemoveAt(v, 3));
    EXPECT_EQ(ptrVectorRemoveFirst(v, key, stringEquals), -1);
    EXPECT_TRUE(!ptrVectorGet(v, -1) && !ptrVectorGet(v, 3) && !ptrVectorRemoveAt(v, 3));
    ptrVectorSetAt(v, 3, key);  // out of range: the free slot after the last stays empty
    ptrVectorSetAt(v, -1, key);
    EXPECT_TRUE(contents(v) == "acd" && v->items[3] == nullptr);
    ptrVectorClear(v, 1);
    EXPECT_TRUE(v->count == 0 && v->capacity == 5 && v->items[0] == nullptr);
    ptrVectorPush(v, NULL);
    ptrVectorDestroy(v, 1);  // skips a NULL item
    ptrVectorDestroy(NULL, 1);
}

static std::string name(int n) { return "http://img.example/" + std::to_string(n) + ".jpg"; }
static char *key(int n) { return strdup(name(n).c_str()); }

static std::vector<std::string> keysOf(const StrMap *map) {
    std::vector<std::string> keys;
    StrMapKey *list = strMapKeys(map);
    for (StrMapKey *k = list; k; k = k->next) keys.push_back(k->key);
    strMapFreeKeys(list);
    return keys;
}

TEST(StrMap, HashMatchesItsDefinition) {
    // high bytes count as negative
    const std::pair<const char *, uint32_t> cases[] = {{"", 0u}, {"a", 103u}, {"ab", 3323u}, {"\xB1", 4059098965u}};
    for (const auto &c : cases) EXPECT_EQ(strMapHash(c.first), c.second) << c.first;
}

TEST(StrMap, DoublesAtThreeQuartersAndFindsEveryKey) {
    StrMap *map = strMapCreateDefault(strMapHash, strMapKeyEquals);
    for (intptr_t i = 0; i < 11; i++) strMapPut(map, key(i), (void *)(i + 1));
    EXPECT_EQ(map->bucketCount, 16);
    strMapPut(map, key(11), (void *)12);
    EXPECT_TRUE(map->bucketCount == 32 && map->threshold == 24);
    for (intptr_t i = 0; i < 1000; i++) strMapPut(map, key(100 + i), (void *)i);
    EXPECT_TRUE(map->entryCount == 1012 && map->bucketCount == 2048);
    for (intptr_t i = 0; i < 12; i++) EXPECT_EQ(strMapGet(map, name(i).c_str()), (void *)(i + 1));
    EXPECT_EQ(keysOf(map).size(), 1012u);
    strMapDestroy(map, 0);
    StrMap *tiny = strMapCreate(strMapHash, strMapKeyEquals, 0, 0.75f), *odd = strMapCreate(strMapHash, strMapKeyEquals, 17, 0.75f);
    strMapPut(tiny, key(1), NULL);
    EXPECT_TRUE(tiny->bucketCount == 2 && tiny->threshold == 1 && odd->bucketCount == 32);
    strMapDestroy(tiny, 0);
    strMapDestroy(odd, 0);
}

TEST(StrMap, PutOfExistingKeyReplacesValueAndKeepsFirstKey) {
    StrMap *map = strMapCreateDefault(strMapHash, strMapKeyEquals);
    char *first = strdup("k"), *again = strdup("k");
    EXPECT_EQ(strMapPut(map, first, strdup("v1")), nullptr);
    char *old = (char *)strMapPut(map, again, strdup("v2"));
    EXPECT_STREQ(old, "v1");
    free(old);
    free(again);  // the caller still owns a key that was not stored
    EXPECT_EQ(map->entryCount, 1);
    EXPECT_EQ(map->buckets[strMapHash("k") & 15].next->key, first);
    EXPECT_STREQ((char *)strMapGet(map, "k"), "v2");
    strMapDestroy(map, 1);
}

static uint32_t sameHash(const char *) { return 5; }

TEST(StrMap, ChainKeepsInsertionOrderAcrossDoubling) {
    StrMap *map = strMapCreate(sameHash, strMapKeyEquals, 2, 0.75f);
    for (int i = 0; i < 6; i++) strMapPut(map, key(i), NULL);
    EXPECT_GT(map->bucketCount, 2);
    EXPECT_EQ(keysOf(map), (std::vector<std::string>{name(0), name(1), name(2), name(3), name(4), name(5)}));
    EXPECT_EQ(strMapRemove(map, name(3).c_str()), nullptr);  // stored value was NULL
    EXPECT_EQ(strMapRemove(map, name(3).c_str()), nullptr);  // absent now
    EXPECT_TRUE(map->entryCount == 5 && keysOf(map)[3] == name(4));
    strMapClear(map, 0);
    EXPECT_EQ(strMapKeys(map), nullptr);
    strMapDestroy(map, 0);
}

static int sameText(const char *a, const char *b) { return strcmp(a, b) == 0; }

TEST(StrMap, MapWithOtherEqualityNeverReleasesKeysOrValues) {
    char keys[3][4] = {"x", "y", "z"};  // on the stack: a release would be caught
    StrMap *map = strMapCreateDefault(strMapHash, sameText);
    for (auto &k : keys) strMapPut(map, k, k);
    strMapClear(map, 1);
    EXPECT_TRUE(map->entryCount == 0 && map->bucketCount == 16);
    strMapDestroy(map, 1);
}
