/* The portable building blocks: link splitting and response headers, text utilities, character sets, paths, the
 * pointer vector and the string map. Input and expected output tables live under tests/data/unit. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

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

TEST(Links, ResolvedAgainstTheLinkTheyAnswerAndSentAsBrowsersSendThem) {
    for (const Case &c : readCases("unit/resolve_link.tsv")) EXPECT_EQ(resolveLink(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    for (const Case &c : readCases("unit/request_link.tsv")) EXPECT_EQ(requestLink(c[0], c[1] == "gbk"), c[2]) << c[0];
}

TEST(HttpHeaderParse, TakesTheFiveFacts) {
    for (Case c : readCases("unit/http_header.tsv")) {
        HttpHeader h = {};
        parseHttpHeader(&c[0][0], &h);
        EXPECT_EQ((Case{c[0], std::to_string(h.contentLength), std::to_string(h.isChunked), h.location, h.connection,
                        h.contentEncoding}), c);
    }
}

TEST(ReplaceAll, ReplacesLeftToRightOrReturnsNull) {
    for (const Case &c : readCases("unit/replace_all.tsv")) {
        char *out = replaceAll(c[0].c_str(), c[1].c_str(), orNull(c[2]));
        EXPECT_EQ(shown(out), c[3]) << c[0] << " " << c[1];
        free(out);
    }
    std::string text, longer;
    for (int i = 0; i < 1000; i++) {  // past the first block of remembered offsets
        text += "<img src=\"http://a.example/" + std::to_string(i) + ".jpg\">";
        longer += "<img src=\"D:\\images\\" + std::to_string(i) + ".jpg\">";
    }
    char *grown = replaceAll(text.c_str(), "http://a.example/", "D:\\images\\");
    EXPECT_EQ(shown(grown), longer);
    free(grown);
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

TEST(Charset, ByteOrderDroppedCharactersAndFailures) {
    for (const Case &c : readCases("unit/charset.tsv")) {
        std::string buffer(std::stoul(c[3]), 'x');
        size_t written = 777;
        long result = convertCharset(c[0].c_str(), c[1].c_str(), c[2].data(), c[2].size(), &buffer[0], buffer.size(), &written);
        EXPECT_EQ(std::to_string(result) + " " + std::to_string(written) + " " + buffer, c[4]) << c[0] << " " << c[2];
    }
}

/* A strict stream over all of text (UTF-16LE, its mark first) as the package's is read; what it failed on is left
 * out and *kept gets the rest of text. */
static std::string convertedStrictly(const char *to, const std::string &text, std::string *kept) {
    std::string out(2 * text.size() + 2, '\0');
    const char *in = text.data(), *from = in + 2;
    size_t left = text.size(), room = out.size();
    char *o = &out[0];
    CharsetStream *s = charsetStreamOpen("UTF-16", to, MISFIT_FAILS, &in, &left);
    while (left > 0 && charsetStreamConvert(s, &in, &left, &o, &room) == CHARSET_FAILED) {
        size_t unit = (in[1] & 0xFC) == 0xD8 ? 4 : 2;  // a pair, or one unit
        kept->append(from, in);
        in += unit, left -= unit, from = in;
    }
    kept->append(from, in);
    charsetStreamClose(s);
    return out.substr(0, out.size() - room);
}

// the package's text is GB18030: no character of the file, in any plane, may come back as another or go unsaid
TEST(Charset, EveryCharacterComesBackFromGB18030OrFailsAloud) {
    std::string units = "\xFF\xFE", kept;
    for (uint32_t c = 0; c < 0x110000; c++) {
        if (c >= 0xD800 && c < 0xE000) continue;
        for (uint32_t u : c < 0x10000 ? std::vector<uint32_t>{c} : std::vector<uint32_t>{0xD800 + ((c - 0x10000) >> 10), 0xDC00 + (c & 0x3FF)})
            units += {(char)(u & 0xFF), (char)(u >> 8)};
    }
    std::string held = convertedStrictly("GB18030", units, &kept);
    // 24 private-use characters that GB18030-2022 moved fail: glibc cannot write them, libiconv reads them back changed
    EXPECT_EQ(kept.size(), units.size() - 2 - 2 * 24);
    size_t written = 0;
    std::string again(kept.size() + 2, '\0');
    EXPECT_EQ(convertCharset("GB18030", "UTF-16LE", held.data(), held.size(), &again[0], again.size(), &written), 0);
    EXPECT_EQ(again.substr(0, written), kept);  // everything else came back in order, unchanged
}

TEST(Paths, NamesCutsJoinsAndTheProgramFolder) {
    for (Case c : readCases("unit/paths.tsv")) {
        bool windows = c[0][0] == '!';  // separators as written, on Windows only
        if (windows && PATH_SEPARATOR == '/') continue;
        if (windows) c[0].erase(0, 1);
        else for (std::string &field : c) std::replace(field.begin(), field.end(), '/', PATH_SEPARATOR);
        char out[16];
        std::string got = c[0] == "name" ? fileName(c[1].c_str()) : c[1];
        if (c[0] == "native") useNativeSeparators(&got[0]);
        if (c[0] == "cut") cutAtLastSeparator(&got[0]), got.resize(strlen(got.c_str()));
        if (c[0] == "join") got = joinPath(out, sizeof out, c[1].c_str(), c[2].c_str()) ? out : "(refused)" + std::string(out);
        if (c[0] == "text") got = pathToText(c[1].c_str(), out, 5) ? out : "(refused)";
        EXPECT_EQ(got, c.back()) << c[0] << " " << c[1];
    }
    char dir[PATH_SIZE];
    ASSERT_EQ(programFolder(dir, sizeof dir), 1);
    EXPECT_TRUE(isDirectory(dir) == 1 && fileExists(dir) == 0 && dir[strlen(dir) - 1] != PATH_SEPARATOR);
}

TEST(PtrVector, GrowsFindsRemovesAndChecksRanges) {
    PtrVector *v = ptrVectorCreate(2, 1);
    for (const char *item : {"a", "b", "c", "d"}) ptrVectorPush(v, strdup(item));
    EXPECT_EQ(ptrVectorPush(v, strdup("b")), 5);
    char b[] = "b", x[] = "x";  // equal content, another pointer
    EXPECT_EQ(strings(v), Case({"a", "b", "c", "d", "b"}));
    EXPECT_TRUE(ptrVectorContains(v, b, stringEquals) && !ptrVectorContains(v, x, stringEquals));
    free(ptrVectorRemoveAt(v, 3));
    EXPECT_TRUE(strings(v) == Case({"a", "b", "c", "b"}) && !ptrVectorRemoveAt(v, 4) && !ptrVectorRemoveAt(v, -1));
    ptrVectorClear(v, 1);
    EXPECT_EQ(v->count, 0);
    ptrVectorPush(v, NULL);
    ptrVectorDestroy(v, 1);  // skips a NULL item
    ptrVectorDestroy(NULL, 1);
}

static std::string name(int n) { return "http://img.example/" + std::to_string(n) + ".jpg"; }
static char *key(int n) { return strdup(name(n).c_str()); }

/* The keys in bucket and chain order, read from the map's own entries. */
static std::vector<std::string> keysOf(const StrMap *map) {
    std::vector<std::string> keys;
    for (int32_t i = 0; i < map->bucketCount; i++)
        for (const StrMapEntry *e = map->buckets[i].next; e; e = e->next) keys.push_back(e->key);
    return keys;
}

static uint32_t sameHash(const char *) { return 5; }

/* Stores a new key, which the map takes over. */
static void add(StrMap *map, char *key, void *value) {
    void *old;
    EXPECT_EQ(strMapReplace(map, key, value, &old), STRMAP_ADDED);
    EXPECT_EQ(old, nullptr);
}

TEST(StrMap, HashDoublingAndLookUp) {
    // the definition's values; high bytes count as negative
    const std::pair<const char *, uint32_t> hashes[] = {{"", 0u}, {"a", 103u}, {"ab", 3323u}, {"\xB1", 4059098965u}};
    for (const auto &h : hashes) EXPECT_EQ(strMapHash(h.first), h.second) << h.first;
    StrMap *map = strMapCreateDefault(strMapHash, strMapKeyEquals), *tiny = strMapCreate(strMapHash, strMapKeyEquals, 0, 0.75f);
    for (intptr_t i = 0; i < 1000; i++) add(map, key(i), (void *)(i + 1));
    EXPECT_TRUE(map->entryCount == 1000 && map->bucketCount == 2048 && keysOf(map).size() == 1000u);  // doubled each time
    for (intptr_t i = 0; i < 1000; i++) EXPECT_EQ(strMapGet(map, name(i).c_str()), (void *)(i + 1));
    add(tiny, key(1), NULL);
    add(tiny, key(2), tiny);
    EXPECT_EQ(strMapGet(tiny, name(2).c_str()), tiny);
    strMapDestroy(map, 0);
    strMapDestroy(tiny, 0);
}

TEST(StrMap, ReplacingRemovingAndOwnership) {
    StrMap *map = strMapCreate(sameHash, strMapKeyEquals, 2, 0.75f);
    for (int i = 0; i < 6; i++) add(map, key(i), strdup("v1"));
    char *again = key(0), *old;
    EXPECT_EQ(strMapReplace(map, again, strdup("v2"), (void **)&old), STRMAP_REPLACED);
    EXPECT_STREQ(old, "v1");  // handed back, for the caller to free
    free(old);
    free(again);  // the caller still owns a key that was not stored
    EXPECT_STREQ((char *)strMapGet(map, name(0).c_str()), "v2");
    EXPECT_EQ(keysOf(map), (std::vector<std::string>{name(0), name(1), name(2), name(3), name(4), name(5)}));
    free(strMapRemove(map, name(3).c_str()));
    EXPECT_EQ(strMapRemove(map, name(3).c_str()), nullptr);  // absent now
    EXPECT_TRUE(map->entryCount == 5 && map->bucketCount > 2 && keysOf(map)[3] == name(4));
    strMapClear(map, 1);
    EXPECT_TRUE(keysOf(map).empty());
    strMapDestroy(map, 1);
}
