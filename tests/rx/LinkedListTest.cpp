// tests/rx/LinkedListTest.cpp
// The linked list under the sets: walks in both directions, removal through an iterator that
// steps on first, and iterators that belong to another list or are done.

#include <oxfirst/OxRxSet.h>

#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Pointers = std::vector<OxRxObject*>;

Pointers walk(const OxRxGenLinkedList& list, int direction)
{
    Pointers seen;
    for (OxRxGenLinkedListIterator it = list.resetIterator(direction); !it.done(); it.next())
        seen.push_back(it.object());
    return seen;
}

class LinkedList : public ::testing::Test {
protected:
    OxRxObject* at(int index) { return &mObjects[index]; }
    // at(0), at(1), at(2); the first insertion into the empty list is at the front, which must
    // set the last node too.
    void fill(OxRxGenLinkedList& list)
    {
        list.addNewFirstEntry(at(1));
        list.addNewFirstEntry(at(0));
        list.addNewLastEntry(at(2));
    }
    oxtest::TestObject mObjects[3];
};

// The iterator steps in its own direction before its node is freed, and the list's ends follow
// the removal of the first or last node. An iterator of another list would unlink that list's
// node while this list's count and ends changed: it is refused, as are null, done and
// unattached iterators.
TEST_F(LinkedList, RemovesThroughItsOwnIteratorsOnlyAndKeepsBothEndsRight)
{
    struct Case {
        int direction, steps, removed, standsOn; // standsOn -1: done
    };
    for (const Case c :
         {Case{1, 0, 0, 1}, Case{1, 1, 1, 2}, Case{1, 2, 2, -1}, Case{0, 0, 2, 1}, Case{0, 2, 0, -1}}) {
        SCOPED_TRACE(testing::Message() << "direction " << c.direction << " removed " << c.removed);
        OxRxGenLinkedList list;
        fill(list);
        OxRxGenLinkedListIterator it = list.resetIterator(c.direction);
        for (int i = 0; i < c.steps; ++i)
            it.next();
        ASSERT_EQ(1, list.removeAtIterator(&it));
        EXPECT_EQ(c.standsOn < 0 ? nullptr : at(c.standsOn), it.object());
        Pointers rest;
        for (int i = 0; i < 3; ++i)
            if (i != c.removed)
                rest.push_back(at(i));
        EXPECT_EQ(rest, walk(list, 1));
        EXPECT_EQ(Pointers(rest.rbegin(), rest.rend()), walk(list, 0));

        OxRxGenLinkedList other;
        other.addNewLastEntry(at(0));
        OxRxGenLinkedListIterator foreign = other.resetIterator(1), unattached;
        for (OxRxGenLinkedListIterator* refused : {&foreign, &unattached, c.standsOn < 0 ? &it : nullptr,
                                                   static_cast<OxRxGenLinkedListIterator*>(nullptr)})
            EXPECT_EQ(0, list.removeAtIterator(refused));
        EXPECT_EQ(2, list.count());
        EXPECT_EQ(1, other.count());
    }
}

} // namespace
