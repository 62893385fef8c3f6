// tests/rx/SetTest.cpp
// Sets: membership by the probe's isEqualTo, retain and removal while walking, iterators of other
// sets, and the typed set's element class and ownership, with destructions counted.

#include "support/RxTestSupport.h"

namespace {

using oxtest::TestObject;
using SetPointer = std::unique_ptr<OxRxSet>;

std::vector<int> valuesOf(const OxRxSet& set)
{
    std::vector<int> values;
    std::unique_ptr<OxRxIterator> it(set.makeIterator());
    for (; !it->done(); it->next())
        values.push_back(static_cast<TestObject*>(it->object())->value());
    return values;
}

class Sets : public ::testing::Test {
protected:
    void SetUp() override { TestObject::gDestroyed = 0; }
    // A new object of `value` that the test deletes at its end.
    TestObject* kept(int value) { return mKept.emplace_back(std::make_unique<TestObject>(value)).get(); }

    oxtest::TypeSystemScope mScope;
    std::vector<std::unique_ptr<TestObject>> mKept;
};

// Equality is the probe's isEqualTo; removeByPointer looks for identity only. removeAt moves the
// iterator on; one that is not this set's (another set's, a bare list's) leaves both sets alone.
// Retain must test the element that followed a removal, not skip it: runs of removed and kept
// elements at both ends and in the middle, and an empty other set.
TEST_F(Sets, RemovalByEqualityPointerOrOwnIteratorOnlyAndRetain)
{
    SetPointer set(newOxRxSet()), other(newOxRxSet());
    for (OxRxObject* object : {kept(7), kept(7), mKept[0].get(), static_cast<TestObject*>(nullptr)})
        set->add(object);
    EXPECT_EQ(1, set->count());
    set->removeByPointer(mKept[1].get());
    EXPECT_EQ(1, set->count());
    set->remove(mKept[1].get());
    EXPECT_EQ(0, set->count());

    for (int i = 0; i < 3; ++i) {
        set->add(kept(i));
        other->add(mKept.back().get());
    }
    std::unique_ptr<OxRxIterator> foreign(other->makeIterator());
    OxRxGenLinkedList list;
    list.addNewLastEntry(mKept[0].get());
    OxRxGenLinkedListIterator listIterator = list.resetIterator(1);
    set->removeAt(foreign.get());
    set->removeAt(&listIterator);
    EXPECT_EQ((std::vector<int>{0, 1, 2}), valuesOf(*other));
    std::unique_ptr<OxRxIterator> it(set->makeIterator());
    it->next();
    set->removeAt(it.get());
    EXPECT_EQ(mKept[4].get(), it->object());
    EXPECT_EQ((std::vector<int>{0, 2}), valuesOf(*set));

    for (const std::string keep : {"-----", "x-x-x", "-x-x-", "--xx-", "xx---"}) {
        SCOPED_TRACE(keep);
        SetPointer all(newOxRxSet()), some(newOxRxSet());
        std::vector<int> expected;
        for (int i = 0; i < 5; ++i) {
            all->add(kept(i));
            if (keep[i] == 'x') {
                some->add(kept(i)); // equal, not identical
                expected.push_back(i);
            }
        }
        all->retain(some.get());
        EXPECT_EQ(expected, valuesOf(*all));
    }
}

// Owning sets delete what they give up through removeAt (remove, retain, clear) and on destruction,
// and never hold one pointer twice; removeByPointer hands it back. Non-owning sets delete nothing.
class TypedSetOwnership : public Sets, public ::testing::WithParamInterface<int> {};

TEST_P(TypedSetOwnership, DeletesElementsOnlyWhenOwning)
{
    const int owns = GetParam();
    auto make = [&](int value) { return owns ? new TestObject(value) : kept(value); };
    SetPointer set(newRxTypedOpaqueSet(owns, TestObject::desc())), other(newOxRxSet());
    std::unique_ptr<TestObject> handedBack(new TestObject(9));
    for (int value : {0, 1, 2, 3})
        set->add(make(value));
    set->add(handedBack.get());
    set->removeByPointer(handedBack.get());
    set->remove(kept(0));
    other->add(kept(2));
    set->retain(other.get());
    EXPECT_EQ((std::vector<int>{2}), valuesOf(*set));
    EXPECT_EQ(owns ? 3 : 0, TestObject::gDestroyed);
    set->clear();
    TestObject* four = make(4);
    set->add(four);
    set->append(four);
    EXPECT_EQ(owns ? 1 : 2, set->count());
    set.reset();
    EXPECT_EQ(owns ? 5 : 0, TestObject::gDestroyed);
}

INSTANTIATE_TEST_SUITE_P(OwningAndNot, TypedSetOwnership, ::testing::Values(0, 1));

// Two owning sets never share an element (it would be deleted twice): addAll and clone copy between
// owning sets and share otherwise; equality needs the same ownership and class. A typed set takes
// only its element class; its own class is unregistered, so no kind test takes it for a set.
TEST_F(Sets, TypedSetsTakeTheirElementClassAndOwningOnesCopyElements)
{
    SetPointer owner(newRxTypedOpaqueSet(1, TestObject::desc())),
        source(newRxTypedOpaqueSet(1, TestObject::desc())),
        borrower(newRxTypedOpaqueSet(0, TestObject::desc())), opaque(newRxOpaqueSet(0));
    borrower->append(opaque.get());
    opaque->add(borrower.get());
    EXPECT_EQ(0, borrower->count() + opaque->count());
    EXPECT_EQ(nullptr, OxRxImpSet::cast(borrower.get()));
    for (int value : {1, 2})
        source->add(new TestObject(value));
    owner->add(new TestObject(1));
    owner->addAll(source.get());
    borrower->addAll(source.get());
    EXPECT_EQ((std::vector<int>{1, 2}), valuesOf(*owner));
    std::unique_ptr<OxRxObject> ownerCopy(owner->clone());
    EXPECT_TRUE(owner->isEqualTo(ownerCopy.get()));
    EXPECT_FALSE(owner->isEqualTo(borrower.get()));
    borrower.reset();
    EXPECT_EQ(0, TestObject::gDestroyed);
    ownerCopy.reset();
    owner.reset();
    source.reset();
    EXPECT_EQ(6, TestObject::gDestroyed);
}

} // namespace
