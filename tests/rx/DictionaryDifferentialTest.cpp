// tests/rx/DictionaryDifferentialTest.cpp
// Drives a dictionary and a plain model (a map by id) with the same random operations and
// compares every answer: results, ids, keys as stored, counts, both iteration orders, and the
// walk of an iterator whose entries are erased under it. Keys come from a tiny alphabet with
// both letter cases, so lookups by another case, renames onto taken keys and holes are common.

#include <oxfirst/OxRxDictionary.h>

#include "rx/DictSkipList.h"
#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using oxtest::TestObject;

// Gives the test the key index to validate.
class InspectableDictionary : public OxRxImpDictionary {
public:
    using OxRxImpDictionary::OxRxImpDictionary;
    const DictSkipList* keyIndex() const { return mpKeyIndex; }
};

std::u16string fold(const std::u16string& key)
{
    std::u16string folded = key;
    for (char16_t& c : folded)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c | 0x20);
    return folded;
}

struct Config {
    bool sorted;
    bool owns;
    bool ignoreCase;
};

class DictionaryDifferential : public ::testing::TestWithParam<Config> {
protected:
    struct Entry {
        std::u16string key; // as stored: the text given when the entry got its key
        int value;          // TestObject value; 0 = null object
    };

    void SetUp() override
    {
        const Config c = GetParam();
        mDict = new InspectableDictionary(0, c.owns, c.sorted, c.ignoreCase);
        ASSERT_TRUE(mDict->isComplete());
    }
    void TearDown() override { delete mDict; }

    std::u16string randomKey()
    {
        static const char16_t kUnits[] = u"aAbB_1";
        std::u16string key(1 + mRandom() % 3, u'a');
        for (char16_t& c : key)
            c = kUnits[mRandom() % 6];
        return key;
    }
    unsigned randomId() { return static_cast<unsigned>(mRandom() % (highestId() + 3)); }
    unsigned highestId() const { return mModel.empty() ? 0 : mModel.rbegin()->first; }
    unsigned modelIdOf(const std::u16string& key) const
    {
        for (const auto& [id, entry] : mModel)
            if (fold(entry.key) == fold(key))
                return id;
        return 0;
    }
    // A new object. A dictionary that owns objects deletes those it took; the others are the
    // test's (mLive), deleted at the end.
    OxRxObject* newObject(int& value)
    {
        value = ++mLastValue;
        TestObject* object = new TestObject(value);
        if (!GetParam().owns)
            mLive.push_back(object);
        return object;
    }
    // An object the dictionary did not take.
    void discard(OxRxObject* object)
    {
        if (GetParam().owns)
            delete object;
    }
    // What an operation that drops the object of `value` (0: null) must answer: null when the
    // dictionary owns (and deleted) it, else the object itself.
    void expectDropped(OxRxObject* answer, int value)
    {
        if (GetParam().owns || value == 0)
            EXPECT_EQ(nullptr, answer);
        else
            EXPECT_EQ(value, valueOf(answer));
    }
    int valueOf(const OxRxObject* object) const
    {
        return object != nullptr ? static_cast<const TestObject*>(object)->value() : 0;
    }

    // The model's entries in the order of a walk: by folded key when sorted and asked so.
    std::vector<unsigned> order(bool byKey) const
    {
        std::vector<unsigned> ids;
        for (const auto& [id, entry] : mModel)
            ids.push_back(id);
        if (byKey && GetParam().sorted)
            std::sort(ids.begin(), ids.end(), [&](unsigned a, unsigned b) {
                return fold(mModel.at(a).key) < fold(mModel.at(b).key);
            });
        return ids;
    }
    void compareWalk(OxRx::DictIterType type)
    {
        const std::vector<unsigned> expected = order(type == OxRx::kIterateByKey);
        std::vector<unsigned> walked;
        OxRxDictionaryIterator* it = mDict->makeIterator(type);
        for (; it->done() == 0; it->next()) {
            walked.push_back(it->id());
            ASSERT_EQ(mModel.at(it->id()).key, std::u16string(it->key()));
            ASSERT_EQ(mModel.at(it->id()).value, valueOf(it->object()));
        }
        delete it;
        ASSERT_EQ(expected, walked);
    }
    void compareEverything()
    {
        ASSERT_EQ(mModel.size(), mDict->count());
        const DictSkipList* index = mDict->keyIndex();
        ASSERT_TRUE(index == nullptr || index->validate());
        for (unsigned id = 0; id <= highestId() + 1; ++id) {
            auto at = mModel.find(id);
            ASSERT_EQ(at != mModel.end(), mDict->containsId(id)) << id;
            ASSERT_EQ(at != mModel.end() ? at->second.value : 0, valueOf(mDict->lookupById(id)));
            if (at != mModel.end())
                ASSERT_EQ(at->second.key, std::u16string(mDict->keyOf(id)));
            else
                ASSERT_EQ(nullptr, mDict->keyOf(id));
        }
        compareWalk(OxRx::kIterateByKey);
        compareWalk(OxRx::kIterateById);
    }

    // Walks the dictionary while erasing some entries, the current one among them: each
    // next() must land on the first remaining entry after the one the walk stood on.
    void walkWhileErasing(bool byKey)
    {
        auto after = [&](unsigned id, const std::u16string& foldedKey) {
            for (unsigned candidate : order(byKey))
                if (byKey && GetParam().sorted ? fold(mModel.at(candidate).key) > foldedKey : candidate > id)
                    return candidate;
            return 0u;
        };
        OxRxDictionaryIterator* it = mDict->makeIterator(byKey ? OxRx::kIterateByKey : OxRx::kIterateById);
        std::vector<unsigned> ids = order(byKey);
        unsigned expected = ids.empty() ? 0 : ids.front();
        while (expected != 0) {
            ASSERT_EQ(expected, it->id());
            const std::u16string currentKey = fold(mModel.at(expected).key);
            const unsigned roll = mRandom() % 4;
            if (roll == 0) { // the current entry
                expectDropped(mDict->eraseById(expected), mModel.at(expected).value);
                mModel.erase(expected);
            } else if (roll == 1) { // some other entry, perhaps the next one
                const unsigned other = randomId();
                if (other != expected && mModel.count(other) != 0) {
                    expectDropped(mDict->erase(mModel.at(other).key.c_str()), mModel.at(other).value);
                    mModel.erase(other);
                }
            }
            expected = after(expected, currentKey);
            ASSERT_EQ(expected != 0 ? 1 : 0, it->next());
        }
        EXPECT_NE(0, it->done());
        EXPECT_EQ(nullptr, it->key());
        delete it;
    }

    void step()
    {
        const Config c = GetParam();
        const std::u16string key = randomKey();
        const unsigned known = modelIdOf(key);
        int value = 0;
        switch (mRandom() % 12) {
        case 0:
        case 1: { // insert: a new id one past the highest, or the key's id with a new object
            OxRxObject* object = newObject(value);
            unsigned id = 99;
            OxRxObject* answer = mDict->insert(key.c_str(), object, &id);
            if (known != 0) {
                EXPECT_EQ(known, id);
                expectDropped(answer, mModel[known].value);
                mModel[known].value = value;
            } else {
                EXPECT_EQ(nullptr, answer);
                EXPECT_EQ(highestId() + 1, id);
                mModel[id] = Entry{key, value};
            }
            break;
        }
        case 2: { // insertAt: only into a free id under a free key
            const unsigned id = randomId();
            OxRxObject* object = newObject(value);
            const bool fits = id != 0 && mModel.count(id) == 0 && known == 0;
            ASSERT_EQ(fits, mDict->insertAt(key.c_str(), id, object)) << id;
            if (fits)
                mModel[id] = Entry{key, value};
            else
                discard(object);
            break;
        }
        case 3: // erase by key
            if (known != 0) {
                expectDropped(mDict->erase(key.c_str()), mModel[known].value);
                mModel.erase(known);
            } else {
                EXPECT_EQ(nullptr, mDict->erase(key.c_str()));
            }
            break;
        case 4: { // erase by id
            const unsigned id = randomId();
            if (mModel.count(id) != 0) {
                expectDropped(mDict->eraseById(id), mModel[id].value);
                mModel.erase(id);
            } else {
                EXPECT_EQ(nullptr, mDict->eraseById(id));
            }
            break;
        }
        case 5:
        case 6: { // renameById, or rename by the old key (which only a sorted dictionary finds)
            const bool byId = mRandom() % 2 == 0;
            const unsigned id =
                byId ? randomId()
                     : (mModel.empty() ? 0 : std::next(mModel.begin(), mRandom() % mModel.size())->first);
            const unsigned holder = modelIdOf(key);
            const bool ok = mModel.count(id) != 0 && (holder == 0 || holder == id) && (byId || c.sorted);
            if (byId) {
                ASSERT_EQ(ok, mDict->renameById(id, key.c_str())) << id;
            } else if (id != 0) {
                ASSERT_EQ(ok, mDict->rename(fold(mModel[id].key).c_str(), key.c_str())) << id;
            }
            if (ok)
                mModel[id].key = key;
            break;
        }
        case 7: { // replaceAt: an id without entry is reported and stores nothing
            const unsigned id = randomId();
            OxRxObject* object = mRandom() % 8 == 0 ? nullptr : newObject(value);
            const std::size_t reports = mScope.reports().count();
            OxRxObject* answer = mDict->replaceAt(id, object);
            if (mModel.count(id) != 0) {
                expectDropped(answer, mModel[id].value);
                mModel[id].value = value;
            } else {
                EXPECT_EQ(nullptr, answer);
                EXPECT_EQ(reports + 1, mScope.reports().count());
                if (object != nullptr)
                    discard(object);
            }
            break;
        }
        case 8: // lookups by key in any letter case
            EXPECT_EQ(known, mDict->idOf(key.c_str()));
            EXPECT_EQ(known != 0, mDict->contains(key.c_str()));
            EXPECT_EQ(known != 0 ? mModel[known].value : 0, valueOf(mDict->lookup(key.c_str())));
            break;
        case 9:
            if (mRandom() % 16 == 0)
                walkWhileErasing(mRandom() % 2 == 0);
            break;
        case 10:
            if (mRandom() % 32 == 0)
                compareEverything();
            break;
        default: { // a clone equals its source and walks the same
            if (mRandom() % 64 != 0)
                break;
            OxRxObject* copy = mDict->clone();
            ASSERT_NE(nullptr, copy);
            EXPECT_NE(0, copy->isEqualTo(mDict));
            EXPECT_NE(0, mDict->isEqualTo(copy));
            delete copy;
            break;
        }
        }
    }

    oxtest::TypeSystemScope mScope;
    InspectableDictionary* mDict = nullptr;
    std::map<unsigned, Entry> mModel;
    std::vector<TestObject*> mLive; // objects the test must delete (not owned by the dictionary)
    std::mt19937 mRandom{20261206};
    int mLastValue = 0;

public:
    ~DictionaryDifferential() override
    {
        if (!GetParam().owns)
            for (TestObject* object : mLive)
                delete object;
    }
};

// Any divergence from the model: a wrong id, a key lost or duplicated by a rename, a hole
// reused, an iterator that skips or repeats an entry after an erasure, an owned object leaked
// or deleted twice (the sanitizer run), a key index out of order.
TEST_P(DictionaryDifferential, AgreesWithAPlainModelOverManyRandomSteps)
{
    for (int i = 0; i < 6000; ++i) {
        ASSERT_NO_FATAL_FAILURE(step()) << "step " << i;
        if (HasFailure())
            FAIL() << "step " << i;
    }
    ASSERT_NO_FATAL_FAILURE(compareEverything());
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DictionaryDifferential,
                         ::testing::Values(Config{false, false, false}, Config{false, true, true},
                                           Config{true, false, true}, Config{true, true, false}),
                         [](const ::testing::TestParamInfo<Config>& info) {
                             return std::string(info.param.sorted ? "Sorted" : "Unsorted") +
                                    (info.param.owns ? "Owning" : "NotOwning") +
                                    (info.param.ignoreCase ? "IgnoreCase" : "");
                         });

} // namespace
