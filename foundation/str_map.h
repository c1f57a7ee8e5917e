/* Hash map from string keys to untyped pointers.
 *
 * Separate chaining over a power-of-two bucket array that doubles when the
 * entry count reaches the load-factor threshold; entries keep their hash so a
 * doubling never rehashes a key. A map whose equality function is
 * strMapKeyEquals owns its keys (they must come from malloc); values are
 * released only when strMapClear or strMapDestroy is asked to. */
#ifndef LUMORA_STR_MAP_H
#define LUMORA_STR_MAP_H

#include <stdint.h>

typedef uint32_t (*StrMapHashFn)(const char *key);
typedef int (*StrMapEqualsFn)(const char *a, const char *b);

struct StrMapEntry {
    uint32_t hash;     /* the key's hash, computed once at insertion */
    char *key;         /* the key as given to strMapReplace */
    void *value;
    StrMapEntry *next; /* next entry of the same bucket, in insertion order */
};

struct StrMap {
    int32_t entryCount;
    int32_t bucketCount;  /* always a power of two */
    int32_t threshold;    /* entry count at which the buckets double */
    float loadFactor;
    StrMapEntry *buckets; /* bucketCount heads; only a head's next is used */
    StrMapHashFn hashFn;
    StrMapEqualsFn equalsFn;
};

/* Returns a new empty map, or NULL when memory runs out. */
StrMap *strMapCreate(StrMapHashFn hashFn, StrMapEqualsFn equalsFn, int32_t initialCapacity,
                     float loadFactor);
/* Capacity 16, load factor 0.75. */
StrMap *strMapCreateDefault(StrMapHashFn hashFn, StrMapEqualsFn equalsFn);

/* What strMapReplace did. */
enum { STRMAP_NO_MEMORY = -1, STRMAP_REPLACED = 0, STRMAP_ADDED = 1 };

/* Stores the value under the key, as Redis's dictReplace does.
 * STRMAP_ADDED: the key was new; the map took the key over.
 * STRMAP_REPLACED: an equal key was there; its entry keeps its own key (the
 * caller still owns the one passed in) and the value it held is handed back
 * in *old, which the caller now owns.
 * STRMAP_NO_MEMORY: nothing changed; the caller still owns key and value.
 * *old is NULL unless the result is STRMAP_REPLACED. */
int strMapReplace(StrMap *map, char *key, void *value, void **old);

/* The stored value, or NULL when the key is absent. */
void *strMapGet(const StrMap *map, const char *key);

/* Unlinks the key's entry, releases its key and hands back its value; NULL
 * when the key is absent. */
void *strMapRemove(StrMap *map, const char *key);

void strMapClear(StrMap *map, int freeValues);
/* Accepts NULL. */
void strMapDestroy(StrMap *map, int freeValues);

uint32_t strMapHash(const char *key);
int strMapKeyEquals(const char *a, const char *b);

#endif
