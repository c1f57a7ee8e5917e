/* Growable array of untyped pointers: linear growth by a fixed step, items
 * kept in order, removal shifts the later items down. */
#include "ptr_vector.h"

#include <stdlib.h>
#include <string.h>

enum { PTR_VECTOR_DEFAULT_SIZE = 10 };

PtrVector *ptrVectorCreate(int32_t initialCapacity, int32_t growBy) {
    PtrVector *v = (PtrVector *)malloc(sizeof(PtrVector));
    if (!v) return NULL;
    v->capacity = initialCapacity > 0 ? initialCapacity : PTR_VECTOR_DEFAULT_SIZE;
    v->growBy = growBy > 0 ? growBy : PTR_VECTOR_DEFAULT_SIZE;
    v->count = 0;
    v->items = (void **)malloc(sizeof(void *) * (size_t)v->capacity);
    if (!v->items) {
        free(v);
        return NULL;
    }
    return v;
}

PtrVector *ptrVectorCreateDefault(void) {
    return ptrVectorCreate(PTR_VECTOR_DEFAULT_SIZE, PTR_VECTOR_DEFAULT_SIZE);
}

/* Makes room for one more item. Returns 1, or 0 when the capacity would
 * overflow or memory runs out (the vector is then unchanged). */
static int ensureRoom(PtrVector *v) {
    if (v->count < v->capacity) return 1;
    if (v->capacity > INT32_MAX - v->growBy) return 0;
    int32_t capacity = v->capacity + v->growBy;
    void **items = (void **)malloc(sizeof(void *) * (size_t)capacity);
    if (!items) return 0;
    memcpy(items, v->items, sizeof(void *) * (size_t)v->count);
    free(v->items);
    v->items = items;
    v->capacity = capacity;
    return 1;
}

int32_t ptrVectorPush(PtrVector *v, void *item) {
    if (!ensureRoom(v)) return 0;
    v->items[v->count++] = item;
    return v->count;
}

int ptrVectorContains(const PtrVector *v, const void *key, PtrMatchFn equals) {
    for (int32_t i = 0; i < v->count; i++)
        if (equals(v->items[i], key)) return 1;
    return 0;
}

void *ptrVectorRemoveAt(PtrVector *v, int32_t index) {
    if (index < 0 || index >= v->count) return NULL;
    void *item = v->items[index];
    memmove(v->items + index, v->items + index + 1, sizeof(void *) * (size_t)(v->count - index - 1));
    v->items[--v->count] = NULL;
    return item;
}

void ptrVectorClear(PtrVector *v, int freeItems) {
    for (int32_t i = 0; i < v->count; i++) {
        if (freeItems) free(v->items[i]);
        v->items[i] = NULL;
    }
    v->count = 0;
}

void ptrVectorDestroy(PtrVector *v, int freeItems) {
    if (!v) return;
    ptrVectorClear(v, freeItems);
    free(v->items);
    free(v);
}
