/* Hash map from string keys to untyped pointers: chained buckets, doubling
 * at a load-factor threshold, Java-style string hash with bit spreading. */
#include "str_map.h"

#include <stdlib.h>
#include <string.h>

enum { STR_MAP_DEFAULT_CAPACITY = 16, STR_MAP_MAX_BUCKETS = 1 << 30 };

static const float STR_MAP_DEFAULT_LOAD_FACTOR = 0.75f;

static int32_t thresholdFor(int32_t bucketCount, float loadFactor) {
    return (int32_t)((float)bucketCount * loadFactor);
}

StrMap *strMapCreate(StrMapHashFn hashFn, StrMapEqualsFn equalsFn, int32_t initialCapacity,
                     float loadFactor) {
    int32_t buckets = 1;
    while (buckets < initialCapacity && buckets < STR_MAP_MAX_BUCKETS) buckets <<= 1;
    StrMap *map = (StrMap *)malloc(sizeof(StrMap));
    if (!map) return NULL;
    map->buckets = (StrMapEntry *)calloc((size_t)buckets, sizeof(StrMapEntry));
    if (!map->buckets) {
        free(map);
        return NULL;
    }
    map->entryCount = 0;
    map->bucketCount = buckets;
    map->loadFactor = loadFactor;
    map->threshold = thresholdFor(buckets, loadFactor);
    map->hashFn = hashFn;
    map->equalsFn = equalsFn;
    return map;
}

StrMap *strMapCreateDefault(StrMapHashFn hashFn, StrMapEqualsFn equalsFn) {
    return strMapCreate(hashFn, equalsFn, STR_MAP_DEFAULT_CAPACITY, STR_MAP_DEFAULT_LOAD_FACTOR);
}

/* The entry before the key's entry in its chain (so callers can unlink it),
 * or NULL when the key is absent. */
static StrMapEntry *findBefore(const StrMap *map, const char *key, uint32_t hash) {
    StrMapEntry *prev = &map->buckets[hash & (uint32_t)(map->bucketCount - 1)];
    for (; prev->next; prev = prev->next)
        if (prev->next->hash == hash && map->equalsFn(prev->next->key, key)) return prev;
    return NULL;
}

static void appendEntry(StrMapEntry *buckets, int32_t bucketCount, StrMapEntry *e) {
    StrMapEntry *tail = &buckets[e->hash & (uint32_t)(bucketCount - 1)];
    while (tail->next) tail = tail->next;
    e->next = NULL;
    tail->next = e;
}

/* Doubles the bucket array, keeping chain order. A map that cannot grow
 * stays as it is: longer chains, same results. */
static void grow(StrMap *map) {
    if (map->bucketCount >= STR_MAP_MAX_BUCKETS) return;
    int32_t count = map->bucketCount * 2;
    StrMapEntry *buckets = (StrMapEntry *)calloc((size_t)count, sizeof(StrMapEntry));
    if (!buckets) return;
    for (int32_t i = 0; i < map->bucketCount; i++) {
        StrMapEntry *e = map->buckets[i].next;
        while (e) {
            StrMapEntry *next = e->next;
            appendEntry(buckets, count, e);
            e = next;
        }
    }
    free(map->buckets);
    map->buckets = buckets;
    map->bucketCount = count;
    map->threshold = thresholdFor(count, map->loadFactor);
}

int strMapReplace(StrMap *map, char *key, void *value, void **old) {
    uint32_t hash = map->hashFn(key);
    StrMapEntry *prev = findBefore(map, key, hash);
    *old = NULL;
    if (prev) {
        *old = prev->next->value;
        prev->next->value = value;
        return STRMAP_REPLACED;
    }
    StrMapEntry *e = (StrMapEntry *)malloc(sizeof(StrMapEntry));
    if (!e) return STRMAP_NO_MEMORY;
    e->hash = hash;
    e->key = key;
    e->value = value;
    appendEntry(map->buckets, map->bucketCount, e);
    if (++map->entryCount >= map->threshold) grow(map);
    return STRMAP_ADDED;
}

void *strMapGet(const StrMap *map, const char *key) {
    StrMapEntry *prev = findBefore(map, key, map->hashFn(key));
    return prev ? prev->next->value : NULL;
}

void *strMapRemove(StrMap *map, const char *key) {
    StrMapEntry *prev = findBefore(map, key, map->hashFn(key));
    if (!prev) return NULL;
    StrMapEntry *e = prev->next;
    void *value = e->value;
    prev->next = e->next;
    map->entryCount--;
    free(e->key);
    free(e);
    return value;
}

void strMapClear(StrMap *map, int freeValues) {
    int ownsKeys = map->equalsFn == strMapKeyEquals;
    for (int32_t i = 0; i < map->bucketCount; i++) {
        StrMapEntry *e = map->buckets[i].next;
        while (e) {
            StrMapEntry *next = e->next;
            if (ownsKeys) {
                free(e->key);
                if (freeValues) free(e->value);
            }
            free(e);
            e = next;
        }
        map->buckets[i].next = NULL;
    }
    map->entryCount = 0;
}

void strMapDestroy(StrMap *map, int freeValues) {
    if (!map) return;
    strMapClear(map, freeValues);
    free(map->buckets);
    free(map);
}

uint32_t strMapHash(const char *key) {
    uint32_t h = 0;
    for (const signed char *p = (const signed char *)key; *p; p++) h = 31 * h + (uint32_t)(int32_t)*p;
    h ^= (h >> 20) ^ (h >> 12);
    return h ^ (h >> 7) ^ (h >> 4);
}

int strMapKeyEquals(const char *a, const char *b) {
    return a == b || strcmp(a, b) == 0;
}
