/* Pointer vector: growth, order, range checks and ownership. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include "ptr_vector.h"
#include "text_utils.h"

TEST(PtrVector, GrowsByItsStepAndKeepsOrder) {
    PtrVector *defaults = ptrVectorCreate(0, -5);
    EXPECT_EQ(defaults->capacity, 10);
    EXPECT_EQ(defaults->growBy, 10);
    ptrVectorDestroy(defaults, 0);
    PtrVector *v = ptrVectorCreate(32, 16);
    for (intptr_t i = 1; i <= 33; i++) EXPECT_EQ(ptrVectorPush(v, (void *)i), i);
    EXPECT_EQ(v->capacity, 48);
    EXPECT_EQ(ptrVectorGet(v, -1), nullptr);
    EXPECT_EQ(ptrVectorGet(v, 33), nullptr);
    EXPECT_EQ(ptrVectorRemoveAt(v, 33), nullptr);
    ptrVectorSetAt(v, 33, NULL);
    ptrVectorSetAt(v, -1, NULL);
    ASSERT_EQ(v->count, 33);  // out of range: nothing moved, nothing overwritten
    for (int32_t i = 0; i < v->count; i++) EXPECT_EQ(ptrVectorGet(v, i), (void *)(intptr_t)(i + 1));
    ptrVectorDestroy(v, 0);
    ptrVectorDestroy(NULL, 1);
}

TEST(PtrVector, InsertAndRemoveShiftTheRest) {
    PtrVector *v = ptrVectorCreate(2, 1);
    EXPECT_EQ(ptrVectorContains(v, "a", stringEquals), 0);
    ptrVectorPush(v, strdup("b"));
    ptrVectorInsertAt(v, -3, strdup("a"));  // below 0 counts as 0
    ptrVectorInsertAt(v, 99, strdup("d"));  // past the end appends
    ptrVectorInsertAt(v, 2, strdup("c"));
    ptrVectorPush(v, strdup("b"));
    const char *expected[] = {"a", "b", "c", "d", "b"};
    ASSERT_EQ(v->count, 5);
    for (int i = 0; i < 5; i++) EXPECT_STREQ((char *)ptrVectorGet(v, i), expected[i]);
    char key[] = "b";  // equal content, another pointer
    EXPECT_EQ(ptrVectorContains(v, key, stringEquals), 1);
    EXPECT_EQ(ptrVectorFindFirst(v, key, stringEquals), 1);
    EXPECT_EQ(ptrVectorFindLast(v, key, stringEquals), 4);

    char *removed = (char *)ptrVectorGet(v, 1);
    EXPECT_EQ(ptrVectorRemoveFirst(v, key, stringEquals), 1);
    free(removed);    EXPECT_EQ(v->count, 4);
    EXPECT_EQ(v->items[4], nullptr);  // the vacated slot is cleared
    EXPECT_STREQ((char *)ptrVectorGet(v, 1), "c");
    free(ptrVectorRemoveAt(v, 3));
    EXPECT_EQ(ptrVectorRemoveFirst(v, key, stringEquals), -1);
    ptrVectorDestroy(v, 1);
}

TEST(PtrVector, ClearReleasesItemsSkipsNullsAndKeepsCapacity) {
    PtrVector *v = ptrVectorCreate(4, 4);
    for (char *item : {strdup("x"), (char *)NULL, strdup("y")}) ptrVectorPush(v, item);
    ptrVectorClear(v, 1);
    EXPECT_EQ(v->count, 0);
    EXPECT_EQ(v->capacity, 4);
    EXPECT_EQ(v->items[0], nullptr);
    ptrVectorClear(v, 1);  // harmless twice
    ptrVectorDestroy(v, 1);
}
