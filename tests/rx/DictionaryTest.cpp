// tests/rx/DictionaryTest.cpp
// What the randomized model (DictionaryDifferentialTest.cpp) does not reach: null keys, orphaned
// iterators, concurrent lookups, refused copies, the typed dictionary, and the failures beneath.

#include "rx/DictArray.h"
#include "rx/DictSkipList.h"
#include "support/RxTestSupport.h"

#include <atomic>
#include <thread>

namespace {

using oxtest::TestObject;

class Dictionary : public ::testing::TestWithParam<bool /*sorted*/> {
protected:
    void SetUp() override { mDict = newRxSortDictionary(GetParam(), false); }
    void TearDown() override { delete mDict; }
    void add(const OXCHAR* key) { mDict->insert(key, &mObject); }

    oxtest::TypeSystemScope mScope;
    OxRxDictionary* mDict = nullptr;
    TestObject mObject;
};

// A null key is the empty text; a null key object is nothing at all; an unknown order is a done
// walk. A dictionary deleted under its iterators leaves them done and harmless (sanitizer).
TEST_P(Dictionary, NullKeysUnknownOrdersAndOrphanedIterators)
{
    add(nullptr);
    EXPECT_EQ(1u, mDict->idOf(u""));
    EXPECT_EQ(std::u16string(), mDict->keyOf(1));
    auto* imp = static_cast<OxRxImpDictionary*>(mDict);
    unsigned out = 5;
    EXPECT_EQ(nullptr, imp->insertText(nullptr, &mObject, &out));
    EXPECT_FALSE(out != 0 || imp->insertAtText(nullptr, 9, &mObject) || imp->lookupText(nullptr) ||
                 imp->eraseText(nullptr));
    EXPECT_EQ(1u, mDict->count());

    OxRxDictionaryIterator* it = mDict->makeIterator(static_cast<OxRx::DictIterType>(7));
    EXPECT_EQ(GetParam(), it->done() != 0);
    delete it;

    OxRxDictionaryIterator* first = mDict->makeIterator(OxRx::kIterateByKey);
    OxRxDictionaryIterator* second = mDict->makeIterator(OxRx::kIterateById);
    delete mDict;
    mDict = nullptr;
    for (OxRxDictionaryIterator* it : {first, second}) {
        EXPECT_TRUE(it->done() && !it->key() && !it->object() && !it->id() && !it->next());
        delete it;
    }
}

// Lookups only read: a search that cached or counted anything would race (thread sanitizer).
TEST_P(Dictionary, LookupsRunOnSeveralThreadsAtOnce)
{
    const std::u16string keys[] = {u"one", u"two", u"three", u"four", u"five"};
    for (const std::u16string& key : keys)
        add(key.c_str());
    std::atomic<int> misses{0};
    std::vector<std::jthread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            for (unsigned i = 0; i < 2000; ++i)
                misses +=
                    mDict->idOf(keys[i % 5].c_str()) != i % 5 + 1 || mDict->lookupById(i % 5 + 1) != &mObject;
        });
    readers.clear();
    EXPECT_EQ(0, misses.load());
}

// copyFrom moves live iterators off the entries it erases, refuses other ownership or class, and
// onto itself must not empty the source first. Equality needs the same sortedness.
TEST_P(Dictionary, CopyFromNeedsTheSameOwnershipAndKeepsIds)
{
    OxRxDictionary* source = newRxSortDictionary(GetParam(), false);
    OxRxDictionary* owning = newRxOpaqueDictionary(0, true, GetParam(), false);
    OxRxDictionary* otherOrder = newRxSortDictionary(!GetParam(), false);
    add(u"old");
    source->insertAt(u"new", 4, &mObject);
    otherOrder->insertAt(u"new", 4, &mObject);
    OxRxDictionaryIterator* it = mDict->makeIterator();
    EXPECT_EQ(Orka::eInvalidInput, mDict->copyFrom(owning));
    EXPECT_EQ(Orka::eInvalidInput, mDict->copyFrom(&mObject));
    EXPECT_EQ(Orka::eOk, mDict->copyFrom(mDict));
    EXPECT_EQ(1u, mDict->count());
    EXPECT_EQ(Orka::eOk, mDict->copyFrom(source));
    EXPECT_NE(0, it->done());
    EXPECT_EQ(4u, mDict->idOf(u"NEW"));
    EXPECT_EQ(0, mDict->isEqualTo(otherOrder));
    for (OxRxObject* o : std::initializer_list<OxRxObject*>{it, source, owning, otherOrder})
        delete o;
}

INSTANTIATE_TEST_SUITE_P(SortedAndUnsorted, Dictionary, ::testing::Bool());

// The typed dictionary ignores null objects, compares its element class and clones as typed; its
// registered class makes typed dictionaries without element class.
TEST(TypedDictionary, RefusesNullObjectsAndComparesItsElementClass)
{
    oxtest::TypeSystemScope scope;
    OxRxDictionary* dict = newRxTypedDictionary(TestObject::desc());
    auto* typed = OxRxGenTypedDictionary::cast(dict);
    ASSERT_NE(nullptr, typed);
    TestObject object(1);
    EXPECT_TRUE(typed->accepts(&object) && !typed->accepts(dict));
    unsigned id = 3;
    EXPECT_TRUE(dict->insert(u"a", nullptr, &id) == nullptr && id == 0);
    dict->insert(u"a", &object);
    EXPECT_EQ(nullptr, dict->replaceAt(1, nullptr));
    EXPECT_EQ(&object, dict->lookup(u"a"));
    OxRxObject* copy = dict->clone();
    EXPECT_NE(0, dict->isEqualTo(copy));
    OxRxObject* made = OxRxGenTypedDictionary::desc()->create();
    static_cast<OxRxDictionary*>(made)->insert(u"a", &object);
    EXPECT_EQ(0, dict->isEqualTo(made)); // element class null there
    for (OxRxObject* o : {copy, made, static_cast<OxRxObject*>(dict)})
        delete o;
}

// Slots that cannot grow are reported and the array stays as it was, since the host's callback
// returns. (An address space that grants 64 GiB lazily stores.)
TEST(DictArray, FailedGrowthIsReportedAndChangesNothing)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' allocators reserve such a block";
#endif
    oxtest::FatalReports reports;
    DictArray array(3, /*ownsObjects*/ false, /*ownsKeys*/ true);
    auto* key = new OxRxTextString(u"k");
    TestObject object;
    if (array.store(0xFFFFFFFEu, key, &object))
        return;
    delete key;
    EXPECT_EQ(u"Out of Memory in DictArray 1\n", reports.last());
    EXPECT_EQ(3u, array.capacity());
    EXPECT_EQ(0u, array.highestId());
    EXPECT_TRUE(array.store(3, new OxRxTextString(u"k"), &object));
}

// The level counter wraps at 2^31 (32 one-bits would ask for a 33rd level, past every per-level
// array). A descent that meets the node just compared does not compare it again.
TEST(DictSkipList, LevelCounterWrapsBeforeTheLevelsRunOut)
{
    DictSkipList* list = DictSkipList::create();
    for (const OXCHAR* key : {u"d", u"c", u"b", u"a"})
        ASSERT_EQ(DictSkipList::InsertResult::kLinked, list->insert(new OxRxTextString(key), 1));
    EXPECT_EQ(1u, list->comparisonsToFind(u"0")); // "a" heads levels 2, 1 and 0
    list->setLevelCounter(0x7FFFFFFFu);
    ASSERT_EQ(DictSkipList::InsertResult::kLinked, list->insert(new OxRxTextString(u"z"), 10));
    EXPECT_EQ(31u, list->topLevel());
    EXPECT_EQ(0u, list->levelCounter());
    ASSERT_EQ(DictSkipList::InsertResult::kLinked, list->insert(new OxRxTextString(u"y"), 11));
    EXPECT_TRUE(list->validate());
    delete list;
}

} // namespace
