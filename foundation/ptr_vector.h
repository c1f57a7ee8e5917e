/* Growable array of untyped pointers.
 *
 * The one list type of the program: the item list, every item's link lists
 * and the move job's failure lists. The array grows by a fixed step and never
 * shrinks. The vector owns its slot array, not its items: items are released
 * (with free) only when ptrVectorClear or ptrVectorDestroy is asked to. */
#ifndef LUMORA_PTR_VECTOR_H
#define LUMORA_PTR_VECTOR_H

#include <stdint.h>

struct PtrVector {
    void **items;     /* slots 0 .. count-1 are in use */
    int32_t capacity; /* number of slots allocated */
    int32_t growBy;   /* slots added each time the array is full */
    int32_t count;    /* number of items; callers read it directly */
};

/* Equality function: non-zero when the item equals the key. */
typedef int (*PtrMatchFn)(const void *item, const void *key);

/* Returns a new vector, or NULL when memory runs out. A capacity or growth
 * of 0 or below means 10. */
PtrVector *ptrVectorCreate(int32_t initialCapacity, int32_t growBy);
PtrVector *ptrVectorCreateDefault(void);

/* Appends the item; returns the new count, or 0 when the array could not grow
 * (the item is then not stored). */
int32_t ptrVectorPush(PtrVector *v, void *item);

/* 1 when some item equals the key by the given function, else 0. */
int ptrVectorContains(const PtrVector *v, const void *key, PtrMatchFn equals);

/* Removes and returns the item at the index (not released); NULL when out of
 * range. */
void *ptrVectorRemoveAt(PtrVector *v, int32_t index);

/* Empties the vector, releasing every non-null item when freeItems is set.
 * The capacity stays. */
void ptrVectorClear(PtrVector *v, int freeItems);

/* Clears with the flag, then releases the vector. Accepts NULL. */
void ptrVectorDestroy(PtrVector *v, int freeItems);

#endif
