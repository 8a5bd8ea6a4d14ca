#include <gtest/gtest.h>

#include "ov/ovCPtrList.h"

namespace {
int items[6];
}

TEST(ovCPtrList, IndexAccessAndRemovalKeepOrder)
{
    ovCPtrList list;
    for (int& item : items) {
        list.Add(&item);
    }
    EXPECT_EQ(list.GetCount(), 6);
    EXPECT_EQ(list.GetHead(), &items[0]);
    EXPECT_EQ(list.GetAt(3), &items[3]);
    EXPECT_EQ(list.GetAt(-1), nullptr);
    EXPECT_EQ(list.GetAt(6), nullptr);

    EXPECT_EQ(list.RemoveAt(3), &items[3]);
    EXPECT_EQ(list.GetAt(3), &items[4]);
    EXPECT_EQ(list.RemoveAt(0), &items[0]);
    EXPECT_EQ(list.GetHead(), &items[1]);
    EXPECT_EQ(list.RemoveAt(10), nullptr);
    EXPECT_EQ(list.GetCount(), 4);

    // Walk by rising index after removals: the cursor must stay in step.
    int* expected[] = {&items[1], &items[2], &items[4], &items[5]};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list.GetAt(i), expected[i]) << i;
    }
}

TEST(ovCPtrList, RemoveByItemFromCursorOrSearch)
{
    ovCPtrList list;
    for (int& item : items) {
        list.Add(&item);
    }
    EXPECT_EQ(list.GetAt(4), &items[4]);
    EXPECT_EQ(list.Remove(&items[4]), &items[4]); // the cursor node
    EXPECT_EQ(list.GetAt(4), &items[5]);
    EXPECT_EQ(list.Remove(&items[1]), &items[1]); // before the cursor
    EXPECT_EQ(list.GetAt(3), &items[5]);
    EXPECT_EQ(list.Remove(&items[1]), nullptr);
    EXPECT_EQ(list.Remove(&items[5]), &items[5]); // the tail
    EXPECT_EQ(list.GetCount(), 3);
    list.Add(&items[1]);
    EXPECT_EQ(list.GetAt(3), &items[1]);

    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetHead(), nullptr);
    EXPECT_EQ(list.GetAt(0), nullptr);
    list.Add(&items[2]);
    EXPECT_EQ(list.GetHead(), &items[2]);
}
