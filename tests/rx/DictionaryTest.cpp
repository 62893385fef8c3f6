// tests/rx/DictionaryTest.cpp
// Dictionaries by behaviour, beside the randomized comparison with a model
// (DictionaryDifferentialTest.cpp), which covers ids, keys in any case, renames and walks with
// erasures: empty and null keys, walk orders, iterators that outlive the dictionary or live in
// caller storage, the fatal report of a bad id, ownership with clone, copy and equality, the
// typed dictionary, and the two structures behind them.

#include <oxfirst/OxRxDictionary.h>

#include "rx/DictArray.h"
#include "rx/DictSkipList.h"
#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace {

using oxtest::TestObject;

struct Kind {
    bool sorted;
    bool ignoreCase;
};

std::string kindName(const ::testing::TestParamInfo<Kind>& info)
{
    return std::string(info.param.sorted ? "Sorted" : "Unsorted") +
           (info.param.ignoreCase ? "IgnoreCase" : "");
}

const auto kAllKinds =
    ::testing::Values(Kind{false, false}, Kind{false, true}, Kind{true, false}, Kind{true, true});

class Dictionary : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override { mDict = newRxSortDictionary(GetParam().sorted, GetParam().ignoreCase); }
    void TearDown() override { delete mDict; }
    unsigned add(const OXCHAR* key)
    {
        unsigned id = 0;
        mDict->insert(key, &mObject, &id);
        return id;
    }
    std::vector<unsigned> walk(OxRx::DictIterType order)
    {
        std::vector<unsigned> ids;
        OxRxDictionaryIterator* it = mDict->makeIterator(order);
        for (; it->done() == 0; it->next())
            ids.push_back(it->id());
        delete it;
        return ids;
    }

    oxtest::TypeSystemScope mScope;
    OxRxDictionary* mDict = nullptr;
    TestObject mObject;
};

// A fresh dictionary must answer "nothing" everywhere, including for id 0 and its iterator.
TEST_P(Dictionary, NewDictionaryHoldsNothing)
{
    EXPECT_EQ(0u, mDict->count());
    EXPECT_EQ(nullptr, mDict->lookupById(0));
    EXPECT_EQ(nullptr, mDict->lookupById(1));
    EXPECT_EQ(nullptr, mDict->keyOf(1));
    EXPECT_FALSE(mDict->containsId(0));
    EXPECT_EQ(nullptr, mDict->eraseById(0));
    EXPECT_TRUE(walk(OxRx::kIterateByKey).empty());
    EXPECT_EQ(!GetParam().ignoreCase, mDict->caseSensitive()); // keys ignore case either way
}

// A null key is the empty text; a null key object is nothing at all.
TEST_P(Dictionary, NullTextIsTheEmptyKeyButNullKeyObjectsStoreNothing)
{
    const unsigned id = add(nullptr);
    EXPECT_EQ(id, mDict->idOf(u""));
    EXPECT_EQ(std::u16string(), mDict->keyOf(id));
    auto* imp = static_cast<OxRxImpDictionary*>(mDict);
    unsigned out = 5;
    EXPECT_EQ(nullptr, imp->insertText(nullptr, &mObject, &out));
    EXPECT_EQ(0u, out);
    EXPECT_FALSE(imp->insertAtText(nullptr, 9, &mObject));
    EXPECT_EQ(nullptr, imp->lookupText(nullptr));
    EXPECT_EQ(nullptr, imp->eraseText(nullptr));
    EXPECT_EQ(1u, mDict->count());
}

// Sorted dictionaries walk by key or by id as asked; unsorted ones always by id; an unknown
// order is a walk that is over at once.
TEST_P(Dictionary, WalksByKeyOrById)
{
    add(u"K2");
    add(u"k1");
    add(u"K3");
    const std::vector<unsigned> byId{1, 2, 3};
    EXPECT_EQ(GetParam().sorted ? std::vector<unsigned>({2, 1, 3}) : byId, walk(OxRx::kIterateByKey));
    EXPECT_EQ(byId, walk(OxRx::kIterateById));
    OxRxDictionaryIterator* it = mDict->makeIterator(static_cast<OxRx::DictIterType>(7));
    EXPECT_EQ(GetParam().sorted, it->done() != 0);
    delete it;
}

using DictionaryIterators = Dictionary;

// A dictionary deleted under its iterators leaves them done and harmless (sanitizer run).
TEST_P(DictionaryIterators, OutliveTheirDictionary)
{
    add(u"a");
    add(u"b");
    OxRxDictionaryIterator* first = mDict->makeIterator(OxRx::kIterateByKey);
    OxRxDictionaryIterator* second = mDict->makeIterator(OxRx::kIterateById);
    delete mDict;
    mDict = nullptr;
    for (OxRxDictionaryIterator* it : {first, second}) {
        EXPECT_NE(0, it->done());
        EXPECT_EQ(nullptr, it->key());
        EXPECT_EQ(nullptr, it->object());
        EXPECT_EQ(0u, it->id());
        EXPECT_EQ(0, it->next());
        delete it;
    }
}

// An iterator built in caller storage walks like a heap one and is destroyed in place.
TEST_P(DictionaryIterators, PlacedIteratorWalksWithoutTheHeap)
{
    add(u"b");
    add(u"a");
    alignas(void*) unsigned char storage[kOxRxDictionaryIteratorStorage];
    auto* imp = static_cast<OxRxImpDictionary*>(mDict);
    OxRxDictionaryIterator* it = imp->placeIterator(storage, OxRx::kIterateByKey);
    EXPECT_EQ(GetParam().sorted ? 2u : 1u, it->id());
    EXPECT_EQ(&mObject, it->object());
    EXPECT_NE(0, it->next());
    EXPECT_EQ(0, it->next());
    it->~OxRxDictionaryIterator();
    EXPECT_EQ(nullptr, imp->placeIterator(nullptr, OxRx::kIterateById));
}

// The fatal report names the bad id; the host's callback returns and nothing was stored, also
// for a hole below the top (storing there would make an entry without key).
TEST_P(Dictionary, ReplaceAtAnIdWithoutEntryIsReportedAndStoresNothing)
{
    add(u"a");
    add(u"b");
    mDict->eraseById(1);
    TestObject other(5);
    for (unsigned id : {0u, 1u, 3u}) {
        EXPECT_EQ(nullptr, mDict->replaceAt(id, &other));
        EXPECT_EQ(u"Invalid Dictionary Array Index: " + std::u16string(1, static_cast<char16_t>(u'0' + id)),
                  mScope.reports().last());
        EXPECT_EQ(nullptr, mDict->lookupById(id));
    }
    EXPECT_EQ(&mObject, mDict->replaceAt(2, &other));
    EXPECT_EQ(1u, mDict->count());
}

// Lookups only read: a search that cached or counted anything in the dictionary would race
// (the thread-sanitizer run).
TEST_P(Dictionary, LookupsRunOnSeveralThreadsAtOnce)
{
    const std::u16string keys[] = {u"one", u"two", u"three", u"four", u"five"};
    for (const std::u16string& key : keys)
        add(key.c_str());
    std::vector<std::thread> readers;
    std::atomic<int> misses{0};
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                const std::u16string& key = keys[i % 5];
                if (mDict->lookup(key.c_str()) != &mObject ||
                    mDict->idOf(key.c_str()) != unsigned(i % 5 + 1) ||
                    mDict->lookupById(i % 5 + 1) != &mObject)
                    ++misses;
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(0, misses.load());
}

INSTANTIATE_TEST_SUITE_P(Kinds, Dictionary, kAllKinds, kindName);
INSTANTIATE_TEST_SUITE_P(Kinds, DictionaryIterators, kAllKinds, kindName);

// Owning dictionaries delete what they drop, never an object they still hold; others hand
// dropped objects back.
class DictionaryOwnership : public ::testing::TestWithParam<bool /*sorted*/> {
protected:
    OxRxDictionary* make(bool owns) { return newRxOpaqueDictionary(2, owns, GetParam(), false); }
    oxtest::TypeSystemScope mScope;
};

TEST_P(DictionaryOwnership, OwningDictionaryDeletesWhatItDropsAndOnlyThat)
{
    OxRxDictionary* dict = make(true);
    TestObject* kept = new TestObject(1);
    dict->insert(u"k", kept);
    const int destroyed = TestObject::gDestroyed;
    EXPECT_EQ(nullptr, dict->replaceAt(1, kept)); // replacing by itself deletes nothing
    EXPECT_EQ(destroyed, TestObject::gDestroyed);
    unsigned id = 0;
    EXPECT_EQ(nullptr, dict->insert(u"K", new TestObject(2), &id));
    EXPECT_EQ(1u, id);
    EXPECT_EQ(destroyed + 1, TestObject::gDestroyed);
    dict->insert(u"m", new TestObject(3));
    EXPECT_EQ(nullptr, dict->erase(u"m"));
    EXPECT_EQ(destroyed + 2, TestObject::gDestroyed);
    auto* copy = static_cast<OxRxDictionary*>(dict->clone()); // owned objects are cloned
    EXPECT_NE(dict->lookupById(1), copy->lookupById(1));
    EXPECT_EQ(GetParam(), copy->sorted());
    delete copy;
    delete dict;
    EXPECT_EQ(destroyed + 4, TestObject::gDestroyed);
}

// copyFrom empties the target (its live iterators move off erased entries) and copies ids and
// keys; a source of other ownership or class changes nothing. Clones share objects not owned.
TEST_P(DictionaryOwnership, CopyFromNeedsTheSameOwnershipAndKeepsIds)
{
    OxRxDictionary* target = make(false);
    OxRxDictionary* source = make(false);
    OxRxDictionary* owning = make(true);
    TestObject object(1);
    target->insert(u"old", &object);
    source->insertAt(u"new", 4, &object);
    OxRxDictionaryIterator* it = target->makeIterator();
    EXPECT_EQ(Orka::eInvalidInput, target->copyFrom(owning));
    EXPECT_EQ(Orka::eInvalidInput, target->copyFrom(&object));
    EXPECT_EQ(Orka::eOk, target->copyFrom(target)); // not emptied first and then copied
    EXPECT_EQ(1u, target->count());
    EXPECT_EQ(Orka::eOk, target->copyFrom(source));
    EXPECT_NE(0, it->done());
    EXPECT_EQ(4u, target->idOf(u"NEW"));
    EXPECT_FALSE(target->contains(u"old"));
    EXPECT_NE(0, target->isEqualTo(source));
    OxRxDictionary* otherOrder = newRxOpaqueDictionary(0, false, !GetParam(), false);
    otherOrder->insertAt(u"new", 4, &object);
    EXPECT_EQ(0, target->isEqualTo(otherOrder));
    OxRxObject* copy = source->clone(); // objects not owned are shared
    EXPECT_EQ(&object, static_cast<OxRxDictionary*>(copy)->lookupById(4));
    for (OxRxObject* o : std::initializer_list<OxRxObject*>{it, target, source, owning, otherOrder, copy})
        delete o;
}

INSTANTIATE_TEST_SUITE_P(SortedAndUnsorted, DictionaryOwnership, ::testing::Bool());

// The typed dictionary ignores null objects, compares its element class, clones as typed; the
// registered classes make empty dictionaries.
TEST(TypedDictionary, RefusesNullObjectsAndComparesItsElementClass)
{
    oxtest::TypeSystemScope scope;
    OxRxDictionary* dict = newRxTypedDictionary(TestObject::desc());
    auto* typed = OxRxGenTypedDictionary::cast(dict);
    ASSERT_NE(nullptr, typed);
    TestObject object(1);
    EXPECT_TRUE(typed->accepts(&object));
    EXPECT_FALSE(typed->accepts(dict));
    unsigned id = 3;
    EXPECT_EQ(nullptr, dict->insert(u"a", nullptr, &id));
    EXPECT_EQ(0u, id);
    dict->insert(u"a", &object);
    EXPECT_EQ(nullptr, dict->replaceAt(1, nullptr));
    EXPECT_EQ(&object, dict->lookup(u"a"));
    OxRxObject* copy = dict->clone();
    EXPECT_NE(nullptr, OxRxGenTypedDictionary::cast(copy));
    EXPECT_NE(0, dict->isEqualTo(copy));
    OxRxObject* made = OxRxGenTypedDictionary::desc()->create();
    ASSERT_NE(nullptr, OxRxGenTypedDictionary::cast(made));
    static_cast<OxRxDictionary*>(made)->insert(u"a", &object);
    EXPECT_EQ(0, dict->isEqualTo(made)); // element class null there
    OxRxObject* plain = OxRxImpDictionary::desc()->create();
    EXPECT_NE(nullptr, OxRxImpDictionary::cast(plain));
    EXPECT_EQ(nullptr, OxRxGenTypedDictionary::cast(plain));
    for (OxRxObject* o : {copy, made, plain, static_cast<OxRxObject*>(dict)})
        delete o;
}

// Slots grow to id * 1.1 but at least five more; shrinking drops (and deletes, when owning)
// the entries beyond and lowers the highest id.
TEST(DictArray, GrowsByTheRuleAndShrinkingDropsEntries)
{
    DictArray array(0, /*ownsObjects*/ true, /*ownsKeys*/ true);
    ASSERT_TRUE(array.store(1, new OxRxTextString(u"a"), new TestObject(1)));
    EXPECT_EQ(5u, array.capacity());
    ASSERT_TRUE(array.store(100, new OxRxTextString(u"b"), new TestObject(2)));
    EXPECT_EQ(110u, array.capacity());
    ASSERT_TRUE(array.store(112, new OxRxTextString(u"c"), new TestObject(3)));
    EXPECT_EQ(123u, array.capacity());
    const int destroyed = TestObject::gDestroyed;
    ASSERT_TRUE(array.resize(50));
    EXPECT_EQ(destroyed + 2, TestObject::gDestroyed);
    EXPECT_EQ(1u, array.highestId());
    EXPECT_EQ(1u, array.count());
    EXPECT_EQ(2u, array.nextEntry(1));
}

// Slots that cannot grow are reported, and the array stays as it was: the host's callback
// returns and the caller goes on with it. (An address space that grants 64 GiB lazily stores.)
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

// Heights come from the counter (1, 2, 1, 3, ... by insertion), a node taller than the list
// gets the old head's height, the counter wraps at 2^31, and a descent that meets the node just
// compared does not compare it again.
TEST(DictSkipList, HeightsFollowTheCounterAndComparisonsAreReused)
{
    DictSkipList* list = DictSkipList::create();
    const OXCHAR* keys[] = {u"h", u"g", u"f", u"e", u"d", u"c", u"b", u"a"};
    for (unsigned i = 0; i < 8; ++i) {
        ASSERT_EQ(DictSkipList::InsertResult::kLinked, list->insert(new OxRxTextString(keys[i]), i + 1));
        ASSERT_TRUE(list->validate());
    }
    std::vector<unsigned> heights;
    for (const OXCHAR* key : keys)
        heights.push_back(list->find(key)->height);
    EXPECT_EQ(std::vector<unsigned>({1, 1, 1, 2, 1, 2, 1, 3}), heights);
    EXPECT_EQ(3u, list->topLevel());
    EXPECT_EQ(1u, list->comparisonsToFind(u"0")); // "a" heads levels 2, 1 and 0
    unsigned previous = 0;
    OxRxTextString offered(u"A"); // an equal key renumbers the node; the offered key stays ours
    EXPECT_EQ(DictSkipList::InsertResult::kReplacedId, list->insert(&offered, 9, &previous));
    EXPECT_EQ(8u, previous);
    list->setLevelCounter(0x7FFFFFFFu);
    ASSERT_EQ(DictSkipList::InsertResult::kLinked, list->insert(new OxRxTextString(u"z"), 10));
    EXPECT_EQ(31u, list->topLevel());
    EXPECT_EQ(0u, list->levelCounter());
    EXPECT_EQ(9u, list->remove(u"a"));
    EXPECT_EQ(0u, list->remove(u"a"));
    EXPECT_EQ(8, list->count());
    EXPECT_TRUE(list->validate());
    delete list;
}

} // namespace
