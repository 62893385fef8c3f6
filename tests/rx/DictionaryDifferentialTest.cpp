// tests/rx/DictionaryDifferentialTest.cpp
// Drives a dictionary and a plain model (a map by id) with the same random operations and compares
// every answer. Keys come from a tiny alphabet with both letter cases, so lookups by another case,
// renames onto taken keys and holes are common; some objects are null.

#include "rx/DictSkipList.h"
#include "support/RxTestSupport.h"

#include <algorithm>
#include <map>
#include <random>

namespace {

using oxtest::TestObject;

// Lends the test the key index to validate.
class InspectableDictionary : public OxRxImpDictionary {
public:
    using OxRxImpDictionary::OxRxImpDictionary;
    const DictSkipList* keyIndex() const { return mpKeyIndex; }
};

std::u16string fold(std::u16string key)
{
    for (char16_t& c : key)
        c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c | 0x20) : c;
    return key;
}

const std::u16string kNoKey = u"<none>"; // the model's key of a slot without key; a null key read

struct Config {
    bool sorted, owns, ignoreCase;
};

class DictionaryDifferential : public ::testing::TestWithParam<Config> {
protected:
    // A slot in use: a key with an object or with null, or (after replaceAt into a hole) an object
    // without key. The key as stored: the text given when the entry got its key.
    struct Entry {
        std::u16string key;
        int value; // TestObject value; 0 = null object
        std::u16string folded = fold(key);
    };

    std::u16string randomKey()
    {
        std::u16string key(1 + mRandom() % 3, u'a');
        for (char16_t& c : key)
            c = u"aAbB_1"[mRandom() % 6];
        return key;
    }
    unsigned randomId() { return static_cast<unsigned>(mRandom() % (mHighest + 3)); }
    // The id a search by key finds: the key index holds every key; an unsorted dictionary scans
    // the slots in id order and passes over those whose object is null.
    unsigned modelIdOf(const std::u16string& key) const
    {
        for (const auto& [id, entry] : mModel)
            if (entry.folded == fold(key) && (GetParam().sorted || entry.value != 0))
                return id;
        return 0;
    }
    // Erases the keyed entry of `id` (none: answers 0). Erasing the highest id lowers it to the
    // highest slot holding an object; keyed entries holding null that it passes go with it.
    int modelErase(unsigned id)
    {
        if (modelKey(id) == kNoKey)
            return 0;
        if (id == mHighest)
            for (auto below = mModel.lower_bound(id);
                 below != mModel.begin() && std::prev(below)->second.value == 0;)
                below = mModel.erase(std::prev(below));
        const int value = mModel.at(id).value;
        mModel.erase(id);
        if (id == mHighest)
            mHighest = mModel.empty() ? 0 : mModel.rbegin()->first;
        return value;
    }
    // insert: a new id one past the highest, or the key's id with a new object.
    void insertKey(const std::u16string& key)
    {
        const unsigned known = modelIdOf(key), expected = known != 0 ? known : mHighest + 1;
        int value = 0;
        unsigned id = 99;
        OxRxObject* answer = mDict->insert(key.c_str(), newObject(value), &id);
        EXPECT_EQ(expected, id);
        expectDropped(answer, known != 0 ? mModel[known].value : 0);
        modelStore(expected, known != 0 ? mModel[known].key : key, value);
    }
    void modelStore(unsigned id, const std::u16string& key, int value)
    {
        mModel[id] = Entry{key, value};
        mHighest = std::max(mHighest, id);
    }
    // A new object, or now and then null. Objects a dictionary that owns objects took are its to
    // delete; the others are the test's (mLive).
    OxRxObject* newObject(int& value)
    {
        value = mRandom() % 6 == 0 ? 0 : ++mLastValue;
        TestObject* object = value != 0 ? new TestObject(value) : nullptr;
        if (object != nullptr && !GetParam().owns)
            mLive.emplace_back(object);
        return object;
    }
    // Dropping the object of `value` (0: null) answers null when the dictionary owns (and deleted)
    // it, else the object itself.
    void expectDropped(OxRxObject* got, int value) { EXPECT_EQ(GetParam().owns ? 0 : value, valueOf(got)); }
    static int valueOf(const OxRxObject* o) { return o ? static_cast<const TestObject*>(o)->value() : 0; }
    static std::u16string keyOrNone(const OXCHAR* key) { return key != nullptr ? key : kNoKey; }
    std::u16string modelKey(unsigned id) const { return mModel.count(id) != 0 ? mModel.at(id).key : kNoKey; }

    // The model's entries in the order of a walk: by folded key (every key) when sorted and asked
    // so, else by id (every slot holding an object).
    std::vector<unsigned> order(bool byKey) const
    {
        byKey = byKey && GetParam().sorted;
        std::vector<unsigned> ids;
        for (const auto& [id, entry] : mModel)
            if (byKey ? entry.key != kNoKey : entry.value != 0)
                ids.push_back(id);
        if (byKey)
            std::sort(ids.begin(), ids.end(),
                      [&](unsigned a, unsigned b) { return mModel.at(a).folded < mModel.at(b).folded; });
        return ids;
    }
    void compareEverything()
    {
        ASSERT_EQ(order(true).size(), mDict->count());
        ASSERT_TRUE(mDict->keyIndex() == nullptr || mDict->keyIndex()->validate());
        for (unsigned id = 0; id <= mHighest + 1; ++id) {
            const int value = mModel.count(id) != 0 ? mModel.at(id).value : 0;
            ASSERT_EQ(value != 0, mDict->containsId(id)) << id;
            ASSERT_EQ(value, valueOf(mDict->lookupById(id)));
            ASSERT_EQ(modelKey(id), keyOrNone(mDict->keyOf(id)));
        }
        compareWalk(true, false);
        compareWalk(false, false);
    }

    // Walks the dictionary and compares each entry; with `changing`, erases some entries on the
    // way, the current one among them, and inserts others: each next() must land on the first
    // entry after the one the walk stood on, of those there now.
    void compareWalk(bool byKey, bool changing)
    {
        const bool keyOrder = byKey && GetParam().sorted;
        auto after = [&](unsigned id, const std::u16string& foldedKey) {
            for (unsigned candidate : order(byKey))
                if (keyOrder ? mModel.at(candidate).folded > foldedKey : candidate > id)
                    return candidate;
            return 0u;
        };
        OxRxDictionaryIterator* it = mDict->makeIterator(byKey ? OxRx::kIterateByKey : OxRx::kIterateById);
        const std::vector<unsigned> ids = order(byKey);
        for (unsigned expected = ids.empty() ? 0 : ids.front(); expected != 0;) {
            ASSERT_EQ(expected, it->id());
            ASSERT_EQ(modelKey(expected), keyOrNone(it->key()));
            ASSERT_EQ(mModel.at(expected).value, valueOf(it->object()));
            const std::u16string currentKey = keyOrder ? mModel.at(expected).folded : u"";
            const unsigned roll = changing ? mRandom() % 4 : 3;
            if (roll == 0) { // the current entry (one without key stays)
                expectDropped(mDict->eraseById(expected), modelErase(expected));
            } else if (roll == 1) { // the entry of some key, perhaps the next one
                const std::u16string key = randomKey();
                expectDropped(mDict->erase(key.c_str()), modelErase(modelIdOf(key)));
            } else if (roll == 2) { // a new entry before or after the current one, or a new object
                insertKey(randomKey());
            }
            expected = after(expected, currentKey);
            ASSERT_EQ(expected != 0 ? 1 : 0, it->next());
        }
        EXPECT_TRUE(it->done() && it->key() == nullptr);
        delete it;
    }

    void step()
    {
        const Config c = GetParam();
        const std::u16string key = randomKey();
        const unsigned known = modelIdOf(key);
        int value = 0;
        switch (mRandom() % 11) {
        case 0:
        case 1:
            insertKey(key);
            break;
        case 2: { // insertAt: only into an unused slot under a key not found
            const unsigned id = randomId();
            OxRxObject* object = newObject(value);
            const bool fits = id != 0 && mModel.count(id) == 0 && known == 0;
            ASSERT_EQ(fits, mDict->insertAt(key.c_str(), id, object)) << id;
            if (fits)
                modelStore(id, key, value);
            else if (c.owns)
                delete object; // not taken
            break;
        }
        case 3: // erase by key
            expectDropped(mDict->erase(key.c_str()), modelErase(known));
            break;
        case 4: { // erase by id: only a slot with a key
            const unsigned id = randomId();
            expectDropped(mDict->eraseById(id), modelErase(id));
            break;
        }
        case 5:
        case 6: { // renameById, or rename by the old key (which only a sorted dictionary finds)
            const bool byId = mRandom() % 2 == 0;
            const unsigned id =
                byId ? randomId()
                     : (mModel.empty() ? 0 : std::next(mModel.begin(), mRandom() % mModel.size())->first);
            const bool keyed = modelKey(id) != kNoKey;
            const bool ok = keyed && (known == 0 || known == id) && (byId || c.sorted);
            EXPECT_EQ(ok, byId ? mDict->renameById(id, key.c_str())
                               : keyed && mDict->rename(mModel[id].folded.c_str(), key.c_str()))
                << id;
            if (ok)
                mModel[id] = Entry{key, mModel[id].value};
            break;
        }
        case 7: { // replaceAt: any id from 1 to the highest, a hole too; others are reported. An
                  // object put in its own place again is not dropped (nor deleted). A slot without
                  // key is often emptied again, so that such slots do not pile up.
            const unsigned id = randomId();
            OxRxObject* same = mRandom() % 8 == 0 ? mDict->lookupById(id) : nullptr;
            const bool empty = modelKey(id) == kNoKey && mRandom() % 2 == 0;
            OxRxObject* object = same != nullptr ? same : empty ? nullptr : newObject(value);
            const std::size_t reports = mScope.reports().count();
            OxRxObject* answer = mDict->replaceAt(id, object);
            if (same != nullptr) {
                EXPECT_EQ(c.owns ? nullptr : same, answer);
            } else if (id != 0 && id <= mHighest) {
                auto at = mModel.try_emplace(id, Entry{kNoKey, 0}).first;
                expectDropped(answer, at->second.value);
                at->second.value = value;
                if (at->second.key == kNoKey && value == 0)
                    mModel.erase(at);
            } else {
                const std::string digits = std::to_string(id);
                EXPECT_EQ(nullptr, answer);
                EXPECT_EQ(reports + 1, mScope.reports().count());
                EXPECT_EQ(u"Invalid Dictionary Array Index: " + std::u16string(digits.begin(), digits.end()),
                          mScope.reports().last());
                if (c.owns)
                    delete object; // not taken
            }
            break;
        }
        case 8: // lookups by key in any letter case
            EXPECT_EQ(known, mDict->idOf(key.c_str()));
            EXPECT_EQ(known != 0, mDict->contains(key.c_str()));
            EXPECT_EQ(known != 0 ? mModel[known].value : 0, valueOf(mDict->lookup(key.c_str())));
            break;
        case 9: // now and then a walk that changes the dictionary under it, or a full comparison
            if (mRandom() % 16 == 0)
                compareWalk(mRandom() % 2 == 0, true);
            else if (mRandom() % 32 == 0)
                compareEverything();
            break;
        default: { // a clone, and a dictionary emptied and filled by copyFrom, equal the source
            if (mRandom() % 64 != 0)
                break;
            std::unique_ptr<OxRxObject> copy(mDict->clone());
            ASSERT_NE(nullptr, copy);
            EXPECT_TRUE(copy->isEqualTo(mDict.get()) && mDict->isEqualTo(copy.get()));
            OxRxImpDictionary target(0, c.owns, c.sorted, !c.ignoreCase);
            TestObject stale(-1);
            target.insertAt(u"stale", 9, c.owns ? new TestObject(-1) : &stale);
            target.insert(u"null", nullptr); // only the key index would find it again
            ASSERT_EQ(Orka::eOk, target.copyFrom(copy.get()));
            EXPECT_NE(0, target.isEqualTo(mDict.get()));
            break;
        }
        }
    }

    oxtest::TypeSystemScope mScope;
    std::vector<std::unique_ptr<TestObject>> mLive; // objects the dictionary does not own
    std::unique_ptr<InspectableDictionary> mDict{
        new InspectableDictionary(0, GetParam().owns, GetParam().sorted, GetParam().ignoreCase)};
    std::map<unsigned, Entry> mModel; // the slots in use
    unsigned mHighest = 0;            // the highest id; its slot may have been emptied by replaceAt
    std::mt19937 mRandom{20261206};
    int mLastValue = 0;
};

// Any divergence from the model: a wrong id, a key lost or duplicated by a rename, a hole reused,
// a null object counted or found, a hole refused by replaceAt, an iterator that skips or repeats an
// entry after an erasure, an owned object leaked or deleted twice (sanitizer), a key index out of order.
TEST_P(DictionaryDifferential, AgreesWithAPlainModelOverManyRandomSteps)
{
    ASSERT_NO_FATAL_FAILURE(compareEverything());
    for (int i = 0; i < 20000 && !HasFailure(); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i);
        step();
    }
    ASSERT_NO_FATAL_FAILURE(compareEverything());
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DictionaryDifferential,
                         ::testing::Values(Config{false, false, false}, Config{false, true, true},
                                           Config{true, false, true}, Config{true, true, false}));

} // namespace
