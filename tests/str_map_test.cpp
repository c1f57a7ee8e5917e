/* String map: hash values, bucket doubling, chain order and ownership. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "str_map.h"

static std::vector<std::string> keysOf(const StrMap *map) {
    std::vector<std::string> keys;
    StrMapKey *list = strMapKeys(map);
    for (StrMapKey *k = list; k; k = k->next) keys.push_back(k->key);
    strMapFreeKeys(list);
    return keys;
}

static std::string name(int n) { return "http://img.example/" + std::to_string(n) + ".jpg"; }
static char *key(int n) { return strdup(name(n).c_str()); }

TEST(StrMap, HashMatchesItsDefinition) {
    // high bytes count as negative
    const std::pair<const char *, uint32_t> cases[] = {{"", 0u}, {"a", 103u}, {"ab", 3323u}, {"\xB1", 4059098965u}};
    for (const auto &c : cases) EXPECT_EQ(strMapHash(c.first), c.second) << c.first;
}

TEST(StrMap, DefaultMapDoublesAtTwelfthKeyAndFindsEveryKey) {
    StrMap *map = strMapCreateDefault(strMapHash, strMapKeyEquals);
    EXPECT_EQ(map->bucketCount, 16);
    EXPECT_EQ(map->threshold, 12);
    for (intptr_t i = 0; i < 11; i++) strMapPut(map, key(i), (void *)(i + 1));
    EXPECT_EQ(map->bucketCount, 16);
    strMapPut(map, key(11), (void *)12);
    EXPECT_EQ(map->bucketCount, 32);
    EXPECT_EQ(map->threshold, 24);
    for (intptr_t i = 0; i < 1000; i++) strMapPut(map, key(100 + i), (void *)i);
    EXPECT_EQ(map->entryCount, 1012);
    EXPECT_EQ(map->bucketCount, 2048);
    for (intptr_t i = 0; i < 12; i++) EXPECT_EQ(strMapGet(map, name(i).c_str()), (void *)(i + 1));
    EXPECT_EQ(keysOf(map).size(), 1012u);
    strMapDestroy(map, 0);
}

TEST(StrMap, CapacityRoundsUpToPowerOfTwo) {
    StrMap *tiny = strMapCreate(strMapHash, strMapKeyEquals, 0, 0.75f);
    EXPECT_EQ(tiny->bucketCount, 1);
    EXPECT_EQ(tiny->threshold, 0);
    strMapPut(tiny, key(1), NULL);
    EXPECT_EQ(tiny->bucketCount, 2);
    EXPECT_EQ(tiny->threshold, 1);
    strMapDestroy(tiny, 0);
    StrMap *odd = strMapCreate(strMapHash, strMapKeyEquals, 17, 0.75f);
    EXPECT_EQ(odd->bucketCount, 32);
    strMapDestroy(odd, 0);
}

TEST(StrMap, PutOfExistingKeyReplacesValueAndKeepsFirstKey) {
    StrMap *map = strMapCreateDefault(strMapHash, strMapKeyEquals);
    char *first = strdup("k");
    EXPECT_EQ(strMapPut(map, first, strdup("v1")), nullptr);
    char *again = strdup("k");
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
    std::vector<std::string> keys = keysOf(map);
    ASSERT_EQ(keys.size(), 6u);
    for (int i = 0; i < 6; i++) EXPECT_EQ(keys[i], name(i));
    EXPECT_EQ(strMapRemove(map, name(3).c_str()), nullptr);  // stored value was NULL
    EXPECT_EQ(strMapRemove(map, name(3).c_str()), nullptr);  // absent now
    EXPECT_EQ(map->entryCount, 5);
    EXPECT_EQ(keysOf(map)[3], name(4));
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
    EXPECT_EQ(map->entryCount, 0);
    EXPECT_EQ(map->bucketCount, 16);
    strMapDestroy(map, 1);
}
