// rx/ImpDictionary.cpp
// The dictionary: id-indexed entries (DictArray) that are always there, a key index
// (DictSkipList) when sorted, and the set of live iterators it tells about erasures. Also the
// typed dictionary and the factories.
//
// Ownership of keys: in a sorted dictionary the index node owns the key and the array slot
// points at the same object; in an unsorted one the array owns it. Every operation changes
// both structures before it deletes anything, so an owned object's destructor that looks at
// the dictionary finds it consistent.

#include <oxfirst/OxRxDictionary.h>

#include "rx/DictArray.h"
#include "rx/DictKeyText.h"
#include "rx/DictSkipList.h"

#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxTextString.h>

#include <cstddef>
#include <new>

namespace {

const OXCHAR kEmptyText[] = u"";

// The largest id an entry can have: the id-order walk must be able to step one past it.
constexpr unsigned kLastId = 0xFFFFFFFEu;

OxRxObject* makeImpDictionary()
{
    return newOxRxDictionary();
}

OxRxObject* makeTypedDictionary()
{
    return newRxTypedDictionary(nullptr);
}

OxRxDictionary* completeOrNull(OxRxImpDictionary* dictionary)
{
    if (dictionary != nullptr && !dictionary->isComplete()) {
        delete dictionary;
        return nullptr;
    }
    return dictionary;
}

} // namespace

OX_RX_DEFINE_MEMBERS(OxRxDictionary, u"OxRxDictionary", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxImpDictionary, u"OxRxImpDictionary", u"OxRxDictionary", makeImpDictionary)
OX_RX_DEFINE_MEMBERS(OxRxGenTypedDictionary, u"OxRxGenTypedDictionary", u"OxRxImpDictionary",
                     makeTypedDictionary)

// ---------------------------------------------------------------------------------------------
// Construction and destruction

OxRxImpDictionary::OxRxImpDictionary(std::uint32_t initialCapacity, bool ownsObjects, bool sorted,
                                     bool ignoreCase)
    : mIgnoreCase(ignoreCase ? 1 : 0)
{
    mpEntries = new DictArray(initialCapacity, ownsObjects, /*ownsKeys*/ !sorted);
    if (sorted)
        mpKeyIndex = DictSkipList::create();
    mpLiveIterators = newOxRxSet();
}

bool OxRxImpDictionary::isComplete() const noexcept
{
    return mpEntries != nullptr && mpLiveIterators != nullptr &&
           (mpEntries->ownsKeys() || mpKeyIndex != nullptr);
}

OxRxImpDictionary::~OxRxImpDictionary()
{
    if (mpLiveIterators != nullptr) {
        alignas(std::max_align_t) unsigned char storage[kOxRxSetIteratorStorage];
        OxRxIterator* walk = mpLiveIterators->placeIterator(storage);
        while (walk->done() == 0) {
            auto* iterator = static_cast<OxRxImpDictionaryIterator*>(walk->object());
            walk->next(); // off the element before detach() removes it from the set
            iterator->detach();
        }
        walk->~OxRxIterator();
        delete mpLiveIterators;
        mpLiveIterators = nullptr;
    }
    if (mpEntries != nullptr && (mpEntries->ownsKeys() || mpKeyIndex != nullptr))
        eraseAll();
    delete mpKeyIndex;
    delete mpEntries;
}

// ---------------------------------------------------------------------------------------------
// Internals

unsigned OxRxImpDictionary::findId(const OXCHAR* text) const noexcept
{
    return mpKeyIndex != nullptr ? mpKeyIndex->findId(text) : mpEntries->findKey(text);
}

// Null when memory runs out, also for the text's buffer (the key object then holds no text).
OxRxTextString* OxRxImpDictionary::makeKey(const OXCHAR* text) const
{
    OxRxTextString* key = new OxRxTextString(text, mIgnoreCase);
    if (key != nullptr && key->textLength() == 0 && !oxrx_dict::isEmptyText(text)) {
        delete key;
        return nullptr;
    }
    return key;
}

// Takes `key` in every case: stored, or deleted when the entry cannot be stored. A null key
// (an object replaceAt put into a hole) goes into the slot alone.
bool OxRxImpDictionary::storeEntry(unsigned id, OxRxTextString* key, OxRxObject* object,
                                   DictSkipList::Position* position)
{
    if (!mpEntries->store(id, key, object)) {
        delete key;
        return false;
    }
    const DictSkipList::InsertResult linked = mpKeyIndex == nullptr || key == nullptr
                                                  ? DictSkipList::InsertResult::kLinked
                                              : position != nullptr ? mpKeyIndex->linkAt(key, id, position)
                                                                    : mpKeyIndex->insert(key, id);
    if (linked != DictSkipList::InsertResult::kLinked) {
        mpEntries->take(id);
        delete key;
        return false;
    }
    return true;
}

// Takes `newKey` when it answers true. Keys stay unique: a key that names another entry is
// refused, since the index holds one node per key and an unsorted lookup would find only the
// lower id.
bool OxRxImpDictionary::renameEntry(unsigned id, OxRxTextString* newKey)
{
    OxRxTextString* oldKey = mpEntries->keyAt(id);
    if (oldKey == nullptr)
        return false;
    const OXCHAR* newText = oxrx_dict::keyText(newKey);
    const unsigned holder = findId(newText);
    if (holder != 0 && holder != id)
        return false;

    OxRxTextString* replaced = nullptr;
    if (mpKeyIndex == nullptr) {
        mpEntries->replaceKey(id, newKey, &replaced);
        delete replaced;
        return true;
    }
    if (holder == id) {
        // Only the letter case changes: the node keeps its place and takes the new key.
        mpEntries->replaceKey(id, newKey, &replaced);
        mpKeyIndex->replaceEqualKey(oxrx_dict::keyText(oldKey), newKey);
        return true;
    }
    // Link the new key first: when that runs out of memory nothing has changed yet.
    if (mpKeyIndex->insert(newKey, id) != DictSkipList::InsertResult::kLinked)
        return false;
    mpEntries->replaceKey(id, newKey, &replaced);
    mpKeyIndex->remove(oxrx_dict::keyText(oldKey)); // deletes the old key
    return true;
}

// Empties the slot `id` in both structures and returns its object; deletes only the key.
OxRxObject* OxRxImpDictionary::unlinkEntry(unsigned id)
{
    notifyErasing(id);
    const DictEntry entry = mpEntries->take(id);
    if (mpKeyIndex != nullptr && entry.key != nullptr)
        mpKeyIndex->remove(oxrx_dict::keyText(entry.key)); // deletes the key
    else
        delete entry.key;
    return entry.object;
}

// Erasing the highest id lowers it to the highest slot that holds an object. A keyed entry
// holding null between the two goes first: left above the highest id, its slot would receive
// the next new id while its key still named it.
OxRxObject* OxRxImpDictionary::eraseEntry(unsigned id)
{
    if (id == mpEntries->highestId())
        for (unsigned below = id - 1u; below != 0 && mpEntries->objectAt(below) == nullptr; --below)
            if (mpEntries->keyAt(below) != nullptr)
                unlinkEntry(below);
    OxRxObject* object = unlinkEntry(id);
    if (mpEntries->ownsObjects()) {
        delete object;
        return nullptr;
    }
    return object;
}

// Every slot in use, in id order: keyed entries and objects without key alike.
void OxRxImpDictionary::eraseAll()
{
    for (unsigned id = mpEntries->nextInUse(0); id <= mpEntries->highestId(); id = mpEntries->nextInUse(id))
        eraseEntry(id);
}

// Every live iterator standing on `id` steps off it before the entry goes.
void OxRxImpDictionary::notifyErasing(unsigned id) const
{
    if (mpLiveIterators == nullptr || mpLiveIterators->count() == 0)
        return;
    alignas(std::max_align_t) unsigned char storage[kOxRxSetIteratorStorage];
    OxRxIterator* walk = mpLiveIterators->placeIterator(storage);
    while (walk->done() == 0) {
        auto* iterator = static_cast<OxRxImpDictionaryIterator*>(walk->object());
        walk->next(); // entryErasing may detach the iterator, which removes it from the set
        iterator->entryErasing(id);
    }
    walk->~OxRxIterator();
}

bool OxRxImpDictionary::copyEntriesFrom(const OxRxImpDictionary& source)
{
    const DictArray& entries = *source.mpEntries;
    const bool owns = mpEntries->ownsObjects();
    for (unsigned id = entries.nextInUse(0); id <= entries.highestId(); id = entries.nextInUse(id)) {
        const DictEntry* entry = entries.slot(id);
        OxRxTextString* key = nullptr;
        if (entry->key != nullptr && (key = makeKey(oxrx_dict::keyText(entry->key))) == nullptr)
            return false;
        OxRxObject* object = entry->object;
        if (owns && object != nullptr)
            object = object->clone();
        if (!storeEntry(id, key, object)) {
            if (owns)
                delete object;
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Lookups

OxRxObject* OxRxImpDictionary::lookupById(unsigned id) const
{
    return mpEntries->objectAt(id);
}

OxRxObject* OxRxImpDictionary::lookup(const OXCHAR* key) const
{
    return mpEntries->objectAt(findId(key));
}

OxRxObject* OxRxImpDictionary::lookupText(const OxRxTextString* key) const
{
    return key != nullptr ? mpEntries->objectAt(findId(key->constText())) : nullptr;
}

bool OxRxImpDictionary::containsId(unsigned id) const
{
    return mpEntries->objectAt(id) != nullptr;
}

bool OxRxImpDictionary::contains(const OXCHAR* key) const
{
    return findId(key) != 0;
}

bool OxRxImpDictionary::containsText(const OxRxTextString* key) const
{
    return key != nullptr && findId(key->constText()) != 0;
}

unsigned OxRxImpDictionary::idOf(const OXCHAR* key) const
{
    return findId(key);
}

unsigned OxRxImpDictionary::idOfText(const OxRxTextString* key) const
{
    return key != nullptr ? findId(key->constText()) : 0u;
}

const OXCHAR* OxRxImpDictionary::keyOf(unsigned id) const
{
    const OxRxTextString* key = mpEntries->keyAt(id);
    if (key == nullptr)
        return nullptr;
    const OXCHAR* text = key->constText();
    return text != nullptr ? text : kEmptyText;
}

unsigned OxRxImpDictionary::count() const
{
    return mpKeyIndex != nullptr ? static_cast<unsigned>(mpKeyIndex->count()) : mpEntries->count();
}

bool OxRxImpDictionary::ownsObjects() const
{
    return mpEntries->ownsObjects();
}

bool OxRxImpDictionary::caseSensitive() const
{
    return mIgnoreCase == 0;
}

bool OxRxImpDictionary::sorted() const
{
    return mpKeyIndex != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Changes

OxRxObject* OxRxImpDictionary::replaceAt(unsigned id, OxRxObject* object)
{
    OxRxObject* previous = nullptr;
    if (!mpEntries->replaceObject(id, object, &previous))
        return nullptr;
    if (!mpEntries->ownsObjects())
        return previous;
    if (previous != object)
        delete previous;
    return nullptr;
}

OxRxObject* OxRxImpDictionary::insert(const OXCHAR* key, OxRxObject* object, unsigned* id)
{
    oxrx_dict::ProbeKey probe(key, mIgnoreCase);
    return insertText(&probe, object, id);
}

OxRxObject* OxRxImpDictionary::insertText(const OxRxTextString* key, OxRxObject* object, unsigned* id)
{
    if (id != nullptr)
        *id = 0;
    if (key == nullptr)
        return nullptr;
    const OXCHAR* text = key->constText();
    // A sorted dictionary searches its index once: the search that misses the key also finds
    // where the new node goes.
    DictSkipList::Position position;
    const DictSkipListNode* node = mpKeyIndex != nullptr ? mpKeyIndex->locate(text, &position) : nullptr;
    if (const unsigned existing = mpKeyIndex != nullptr ? (node != nullptr ? node->id : 0u) : findId(text)) {
        if (id != nullptr)
            *id = existing;
        return replaceAt(existing, object);
    }
    // A new id is one past the highest id in use, never a hole below it: a caller that kept an
    // id across an erasure then finds nothing there, rather than some other object.
    const unsigned newId = mpEntries->highestId() + 1u;
    if (newId > kLastId)
        return nullptr;
    OxRxTextString* stored = makeKey(text);
    if (stored == nullptr || !storeEntry(newId, stored, object, mpKeyIndex != nullptr ? &position : nullptr))
        return nullptr;
    if (id != nullptr)
        *id = newId;
    return nullptr;
}

bool OxRxImpDictionary::insertAt(const OXCHAR* key, unsigned id, OxRxObject* object)
{
    oxrx_dict::ProbeKey probe(key, mIgnoreCase);
    return insertAtText(&probe, id, object);
}

bool OxRxImpDictionary::insertAtText(const OxRxTextString* key, unsigned id, OxRxObject* object)
{
    // A slot holding a key with a null object is not free either: storing there would orphan
    // that key.
    if (key == nullptr || id == 0 || id > kLastId || !mpEntries->isFree(id))
        return false;
    const OXCHAR* text = key->constText();
    if (findId(text) != 0)
        return false;
    OxRxTextString* stored = makeKey(text);
    return stored != nullptr && storeEntry(id, stored, object);
}

bool OxRxImpDictionary::renameById(unsigned id, const OXCHAR* newKey)
{
    OxRxTextString* key = makeKey(newKey);
    return key != nullptr && renameByIdText(id, key);
}

bool OxRxImpDictionary::renameByIdText(unsigned id, OxRxTextString* newKey)
{
    if (newKey == nullptr)
        return false;
    if (!renameEntry(id, newKey)) {
        delete newKey;
        return false;
    }
    return true;
}

bool OxRxImpDictionary::rename(const OXCHAR* oldKey, const OXCHAR* newKey)
{
    OxRxTextString* key = makeKey(newKey);
    if (key == nullptr)
        return false;
    oxrx_dict::ProbeKey probe(oldKey, mIgnoreCase);
    return renameText(&probe, key);
}

bool OxRxImpDictionary::renameText(const OxRxTextString* oldKey, OxRxTextString* newKey)
{
    if (newKey == nullptr)
        return false;
    const unsigned id =
        oldKey != nullptr && mpKeyIndex != nullptr ? mpKeyIndex->findId(oldKey->constText()) : 0u;
    if (id == 0 || !renameEntry(id, newKey)) {
        delete newKey;
        return false;
    }
    return true;
}

OxRxObject* OxRxImpDictionary::eraseById(unsigned id)
{
    return mpEntries->keyAt(id) != nullptr ? eraseEntry(id) : nullptr;
}

OxRxObject* OxRxImpDictionary::erase(const OXCHAR* key)
{
    oxrx_dict::ProbeKey probe(key, mIgnoreCase);
    return eraseText(&probe);
}

OxRxObject* OxRxImpDictionary::eraseText(const OxRxTextString* key)
{
    const unsigned id = key != nullptr ? findId(key->constText()) : 0u;
    return id != 0 ? eraseEntry(id) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Iterators

OxRxDictionaryIterator* OxRxImpDictionary::makeIterator(OxRx::DictIterType order) const
{
    if (mpLiveIterators == nullptr)
        return nullptr;
    auto* iterator = new OxRxImpDictionaryIterator(this, order);
    if (iterator == nullptr || iterator->done() != 0)
        return iterator; // a done iterator is detached and needs no notice
    // An iterator the set could not take would miss erasures; refuse it instead.
    const int before = mpLiveIterators->count();
    mpLiveIterators->add(iterator);
    if (mpLiveIterators->count() != before + 1) {
        delete iterator;
        return nullptr;
    }
    return iterator;
}

OxRxDictionaryIterator* OxRxImpDictionary::placeIterator(void* storage, OxRx::DictIterType order) const
{
    if (storage == nullptr)
        return nullptr;
    return new (storage) OxRxImpDictionaryIterator(this, order);
}

// ---------------------------------------------------------------------------------------------
// Copies and comparison

OxRxObject* OxRxImpDictionary::filledCopyOrNull(OxRxImpDictionary* copy, const OxRxImpDictionary& source)
{
    if (completeOrNull(copy) == nullptr)
        return nullptr;
    if (!copy->copyEntriesFrom(source)) {
        delete copy;
        return nullptr;
    }
    return copy;
}

OxRxObject* OxRxImpDictionary::clone() const
{
    return filledCopyOrNull(new OxRxImpDictionary(count(), ownsObjects(), sorted(), mIgnoreCase != 0), *this);
}

Orka::ErrorStatus OxRxImpDictionary::copyFrom(const OxRxObject* other)
{
    const OxRxImpDictionary* source = OxRxImpDictionary::cast(other);
    if (source == nullptr || source->ownsObjects() != ownsObjects())
        return Orka::eInvalidInput;
    if (source == this)
        return Orka::eOk;
    eraseAll();
    copyEntriesFrom(*source);
    return Orka::eOk;
}

int OxRxImpDictionary::isEqualTo(const OxRxObject* other) const
{
    const OxRxImpDictionary* that = OxRxImpDictionary::cast(other);
    if (that == nullptr)
        return 0;
    if (that == this)
        return 1;
    if (that->ownsObjects() != ownsObjects() || that->count() != count() || that->sorted() != sorted())
        return 0;
    const DictArray& mine = *mpEntries;
    const DictArray& theirs = *that->mpEntries;
    unsigned a = mine.nextObject(0);
    unsigned b = theirs.nextObject(0);
    for (; a <= mine.highestId() && b <= theirs.highestId();
         a = mine.nextObject(a), b = theirs.nextObject(b)) {
        if (a != b)
            return 0;
        const DictEntry* left = mine.slot(a);
        const DictEntry* right = theirs.slot(b);
        if (!oxrx_dict::keyTextsEqual(oxrx_dict::keyText(left->key), oxrx_dict::keyText(right->key)) ||
            left->object->isEqualTo(right->object) == 0)
            return 0;
    }
    return a > mine.highestId() && b > theirs.highestId() ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// OxRxGenTypedDictionary

OxRxGenTypedDictionary::OxRxGenTypedDictionary(const OxRxClass* elementClass)
    : OxRxImpDictionary(0, false, false, false), mpElementClass(elementClass)
{
}

OxRxObject* OxRxGenTypedDictionary::insertText(const OxRxTextString* key, OxRxObject* object, unsigned* id)
{
    if (object == nullptr) {
        if (id != nullptr)
            *id = 0;
        return nullptr;
    }
    return OxRxImpDictionary::insertText(key, object, id);
}

OxRxObject* OxRxGenTypedDictionary::replaceAt(unsigned id, OxRxObject* object)
{
    return object != nullptr ? OxRxImpDictionary::replaceAt(id, object) : nullptr;
}

OxRxObject* OxRxGenTypedDictionary::clone() const
{
    return filledCopyOrNull(new OxRxGenTypedDictionary(mpElementClass), *this);
}

int OxRxGenTypedDictionary::isEqualTo(const OxRxObject* other) const
{
    const OxRxGenTypedDictionary* that = OxRxGenTypedDictionary::cast(other);
    if (that == nullptr || that->mpElementClass != mpElementClass)
        return 0;
    return OxRxImpDictionary::isEqualTo(other);
}

bool OxRxGenTypedDictionary::accepts(const OxRxObject* object) const
{
    return oxrxIsKindOf(object, mpElementClass);
}

// ---------------------------------------------------------------------------------------------
// Factories

OxRxDictionary* newOxRxDictionary()
{
    return completeOrNull(new OxRxImpDictionary(0, false, false, false));
}

OxRxDictionary* newRxOpaqueDictionary(std::uint32_t initialCapacity, bool ownsObjects, bool sorted,
                                      bool ignoreCase)
{
    return completeOrNull(new OxRxImpDictionary(initialCapacity, ownsObjects, sorted, ignoreCase));
}

OxRxDictionary* newRxSortDictionary(bool sorted, bool ignoreCase)
{
    return completeOrNull(new OxRxImpDictionary(0, false, sorted, ignoreCase));
}

OxRxDictionary* newRxTypedDictionary(const OxRxClass* elementClass)
{
    return completeOrNull(new OxRxGenTypedDictionary(elementClass));
}
