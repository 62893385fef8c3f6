// tests/rx/DictionaryTest.cpp
// Dictionaries by behaviour: ids and their reuse, keys that ignore letter case, the two walk
// orders, iterators that survive erasures and the dictionary, ownership with clone, copy and
// equality, the fatal report of a bad id, the typed dictionary, and the two structures behind
// them (slot growth and shrinking, the counter-built key index).

#include <oxfirst/OxRxDictionary.h>

#include "rx/DictArray.h"
#include "rx/DictSkipList.h"
#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
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

class DictionaryTest : public ::testing::TestWithParam<Kind> {
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

using DictionaryIds = DictionaryTest;

// A fresh dictionary must answer "nothing" everywhere, including for id 0 and its iterator.
TEST_P(DictionaryIds, NewDictionaryHoldsNothing)
{
    EXPECT_EQ(0u, mDict->count());
    EXPECT_EQ(nullptr, mDict->lookupById(0));
    EXPECT_EQ(nullptr, mDict->lookupById(1));
    EXPECT_EQ(nullptr, mDict->keyOf(1));
    EXPECT_FALSE(mDict->containsId(0));
    EXPECT_EQ(nullptr, mDict->eraseById(0));
    EXPECT_TRUE(walk(OxRx::kIterateByKey).empty());
}

// A hole below the top stays a hole; erasing the top lowers it to the highest entry, so the
// next insert reuses the id just above that.
TEST_P(DictionaryIds, HolesStayHolesAndErasingTheTopLowersIt)
{
    add(u"a");
    add(u"b");
    add(u"c");
    mDict->erase(u"b");
    EXPECT_EQ(4u, add(u"d"));
    EXPECT_EQ(nullptr, mDict->lookupById(2));
    mDict->eraseById(4);
    mDict->eraseById(3);
    EXPECT_EQ(2u, add(u"e"));
    EXPECT_EQ(2u, mDict->count());
}

// insertAt may jump above the top or fill a hole, but never takes a used id, id 0, or a key
// that already names an entry (two entries under one key would leave one unreachable).
TEST_P(DictionaryIds, InsertAtFillsOnlyFreeIdsUnderFreeKeys)
{
    EXPECT_TRUE(mDict->insertAt(u"x", 7, &mObject));
    EXPECT_EQ(1u, mDict->count());
    EXPECT_FALSE(mDict->insertAt(u"y", 7, &mObject));
    EXPECT_FALSE(mDict->insertAt(u"y", 0, &mObject));
    EXPECT_FALSE(mDict->insertAt(u"X", 3, &mObject));
    EXPECT_TRUE(mDict->insertAt(u"y", 3, &mObject));
    EXPECT_EQ(8u, add(u"z"));
    EXPECT_EQ(std::vector<unsigned>({3, 7, 8}), walk(OxRx::kIterateById));
}

using DictionaryKeys = DictionaryTest;

// Keys ignore ASCII letter case under either setting; the setting is only reported back.
TEST_P(DictionaryKeys, FindKeysInAnyLetterCase)
{
    const unsigned id = add(u"Abc");
    EXPECT_EQ(id, mDict->idOf(u"aBC"));
    EXPECT_TRUE(mDict->contains(u"ABC"));
    EXPECT_EQ(&mObject, mDict->lookup(u"abc"));
    unsigned again = 0;
    mDict->insert(u"ABC", &mObject, &again);
    EXPECT_EQ(id, again);
    EXPECT_EQ(std::u16string(u"Abc"), mDict->keyOf(id)); // the stored text is the first one
    EXPECT_EQ(!GetParam().ignoreCase, mDict->caseSensitive());
    EXPECT_FALSE(mDict->contains(u"ab"));
}

// A null key is the empty text; a null key object is nothing at all.
TEST_P(DictionaryKeys, NullTextIsTheEmptyKeyButNullKeyObjectsStoreNothing)
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

// Renames move the key without moving the id; a key that names another entry is refused with
// nothing changed; a change of letter case only is a rename of its own. Only sorted
// dictionaries find an entry by its old key.
TEST_P(DictionaryKeys, RenamesKeepIdsAndNeverDuplicateAKey)
{
    const unsigned a = add(u"alpha");
    const unsigned b = add(u"beta");
    EXPECT_TRUE(mDict->renameById(a, u"gamma"));
    EXPECT_EQ(a, mDict->idOf(u"GAMMA"));
    EXPECT_FALSE(mDict->contains(u"alpha"));
    EXPECT_FALSE(mDict->renameById(b, u"Gamma"));
    EXPECT_EQ(b, mDict->idOf(u"beta"));
    EXPECT_TRUE(mDict->renameById(b, u"BETA"));
    EXPECT_EQ(std::u16string(u"BETA"), mDict->keyOf(b));
    EXPECT_FALSE(mDict->renameById(9, u"delta"));
    EXPECT_EQ(GetParam().sorted, mDict->rename(u"gamma", u"delta"));
    EXPECT_EQ(GetParam().sorted ? a : 0u, mDict->idOf(u"delta"));
    EXPECT_EQ(2u, mDict->count());
}

using DictionaryOrder = DictionaryTest;

// Sorted dictionaries walk by key or by id as asked; unsorted ones always by id; an unknown
// order is a walk that is over at once.
TEST_P(DictionaryOrder, WalksByKeyOrById)
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

using DictionaryIterators = DictionaryTest;

// The iterator standing on an erased entry moves to the one that followed, and the next
// next() stays there instead of skipping it; erasing the last entry ends the walk.
TEST_P(DictionaryIterators, SurviveErasureOfTheirCurrentEntry)
{
    for (const OXCHAR* key : {u"a", u"b", u"c", u"d"})
        add(key);
    OxRxDictionaryIterator* it = mDict->makeIterator(OxRx::kIterateByKey);
    it->next();
    mDict->erase(u"b");
    EXPECT_EQ(3u, it->id());
    EXPECT_NE(0, it->next());
    EXPECT_EQ(3u, it->id());
    it->next();
    EXPECT_EQ(std::u16string(u"d"), it->key());
    mDict->eraseById(4);
    EXPECT_NE(0, it->done());
    EXPECT_EQ(0, it->next());
    delete it;
}

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
TEST_P(DictionaryTest, ReplaceAtAnIdWithoutEntryIsReportedAndStoresNothing)
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

INSTANTIATE_TEST_SUITE_P(Kinds, DictionaryIds, kAllKinds, kindName);
INSTANTIATE_TEST_SUITE_P(Kinds, DictionaryKeys, kAllKinds, kindName);
INSTANTIATE_TEST_SUITE_P(Kinds, DictionaryOrder, kAllKinds, kindName);
INSTANTIATE_TEST_SUITE_P(Kinds, DictionaryIterators, kAllKinds, kindName);
INSTANTIATE_TEST_SUITE_P(Kinds, DictionaryTest, kAllKinds, kindName);

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
    delete dict;
    EXPECT_EQ(destroyed + 3, TestObject::gDestroyed);
}

TEST_P(DictionaryOwnership, CloneCopiesOwnedObjectsAndSharesOthers)
{
    for (bool owns : {true, false}) {
        OxRxDictionary* dict = make(owns);
        TestObject shared(7);
        dict->insert(u"b", owns ? new TestObject(7) : &shared);
        dict->insert(u"a", owns ? new TestObject(8) : &shared);
        dict->eraseById(1);
        OxRxObject* copy = dict->clone();
        auto* clone = OxRxDictionary::cast(copy);
        ASSERT_NE(nullptr, clone);
        EXPECT_NE(0, clone->isEqualTo(dict));
        EXPECT_EQ(2u, clone->idOf(u"A"));
        EXPECT_EQ(GetParam(), clone->sorted());
        EXPECT_EQ(owns, clone->lookupById(2) != dict->lookupById(2));
        delete copy;
        delete dict;
    }
}

// copyFrom empties the target (its live iterators move off erased entries) and copies ids and
// keys; a source of other ownership or class changes nothing.
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
    EXPECT_EQ(1u, target->count());
    EXPECT_EQ(Orka::eOk, target->copyFrom(source));
    EXPECT_NE(0, it->done());
    EXPECT_EQ(4u, target->idOf(u"NEW"));
    EXPECT_FALSE(target->contains(u"old"));
    EXPECT_NE(0, target->isEqualTo(source));
    OxRxDictionary* otherOrder = newRxOpaqueDictionary(0, false, !GetParam(), false);
    otherOrder->insertAt(u"new", 4, &object);
    EXPECT_EQ(0, target->isEqualTo(otherOrder));
    for (OxRxObject* o : std::initializer_list<OxRxObject*>{it, target, source, owning, otherOrder})
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
