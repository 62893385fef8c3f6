// tests/rx/LinkedListTest.cpp
// The linked list under the sets: walks both ways, removal through its own iterators only.

#include "support/RxTestSupport.h"

namespace {

using Pointers = std::vector<OxRxObject*>;

Pointers walk(const OxRxGenLinkedList& list, int direction)
{
    Pointers seen;
    for (OxRxGenLinkedListIterator it = list.resetIterator(direction); !it.done(); it.next())
        seen.push_back(it.object());
    return seen;
}

// The iterator steps in its own direction before its node is freed; the list's ends follow the
// removal. Another list's iterator (it would unlink that list's node), null, done and unattached
// iterators are refused.
TEST(LinkedList, RemovesThroughItsOwnIteratorsOnlyAndKeepsBothEndsRight)
{
    oxtest::TestObject objects[3];
    const Pointers all{&objects[0], &objects[1], &objects[2]};
    struct Case {
        int direction, steps, removed, standsOn; // standsOn -1: done
    };
    for (const Case c :
         {Case{1, 0, 0, 1}, Case{1, 1, 1, 2}, Case{1, 2, 2, -1}, Case{0, 0, 2, 1}, Case{0, 2, 0, -1}}) {
        SCOPED_TRACE(testing::Message() << "direction " << c.direction << " removed " << c.removed);
        OxRxGenLinkedList list; // the first insertion, at the front, must set the last node too
        list.addNewFirstEntry(all[1]);
        list.addNewFirstEntry(all[0]);
        list.addNewLastEntry(all[2]);
        OxRxGenLinkedListIterator it = list.resetIterator(c.direction);
        for (int i = 0; i < c.steps; ++i)
            it.next();
        ASSERT_EQ(1, list.removeAtIterator(&it));
        EXPECT_EQ(c.standsOn < 0 ? nullptr : all[c.standsOn], it.object());
        Pointers rest = all;
        rest.erase(rest.begin() + c.removed);
        EXPECT_EQ(rest, walk(list, 1));
        EXPECT_EQ(Pointers(rest.rbegin(), rest.rend()), walk(list, 0));

        OxRxGenLinkedList other;
        other.addNewLastEntry(all[0]);
        OxRxGenLinkedListIterator foreign = other.resetIterator(1), unattached;
        for (OxRxGenLinkedListIterator* refused : {&foreign, &unattached, c.standsOn < 0 ? &it : nullptr,
                                                   static_cast<OxRxGenLinkedListIterator*>(nullptr)})
            EXPECT_EQ(0, list.removeAtIterator(refused));
        EXPECT_EQ(2, list.count());
        EXPECT_EQ(1, other.count());
    }
}

} // namespace
