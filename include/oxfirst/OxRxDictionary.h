// oxfirst/OxRxDictionary.h
// The keyed container of the class system. Every entry has a text key and an id (1, 2, ...);
// an object is found by either. Key comparisons always ignore ASCII letter case. Sorted
// dictionaries keep a key index (a skip list) beside the id-indexed entries.
#pragma once

#include <oxfirst/OxHeap.h>
#include <oxfirst/OxRxSet.h>

#include <cstdint>

class OxRxTextString;

namespace OxRx {
/// Order of a dictionary walk. An unsorted dictionary always walks by id.
enum DictIterType : std::int32_t {
    kIterateByKey = 0, ///< ascending key order (sorted dictionaries)
    kIterateById = 1,  ///< ascending ids
};
} // namespace OxRx

// The walk orders are also known by their short names.
using OxRx::kIterateById;
using OxRx::kIterateByKey;

/// Iterator over a dictionary's entries.
class OXFIRST_API OxRxDictionaryIterator : public OxRxIterator {
    OX_RX_DECLARE_MEMBERS(OxRxDictionaryIterator)

    /// The key of the current entry, or null when done.
    virtual const OXCHAR* key() const = 0;
    /// The id of the current entry, or 0 when done.
    virtual unsigned id() const = 0;
};

/// The dictionary interface. Ids are unsigned 32-bit; id 0 never names an entry. A null key
/// counts as the empty text. Among the entries found by key, keys are unique ignoring ASCII
/// letter case. A key stored with a null object keeps its id and its place in the key order,
/// but counts as absent by id: containsId is false and the walk in id order passes it. An
/// unsorted dictionary neither finds it by key nor counts it; the key index of a sorted one
/// finds and counts it. An object replaceAt put into a hole has an id and no key.
class OXFIRST_API OxRxDictionary : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxDictionary)

    /// The object at `id`; null for 0, an id above the highest or a slot without object.
    virtual OxRxObject* lookupById(unsigned id) const = 0;
    virtual OxRxObject* lookup(const OXCHAR* key) const = 0;
    /// Puts `object` at `id`, any id from 1 to the highest, a hole below it included; a key
    /// there stays. Any other id is the fatal report "Invalid Dictionary Array Index: %d" and
    /// stores nothing (null is returned). The previous object is deleted (null returned) when
    /// the dictionary owns its objects, else returned; replacing an object by itself deletes
    /// nothing.
    virtual OxRxObject* replaceAt(unsigned id, OxRxObject* object) = 0;
    /// Stores `object` under `key` and writes its id to `*id` when `id` is not null. An
    /// existing key keeps its id and gets the new object, as replaceAt. Returns null for a new
    /// key. A new id is one past the highest id in use. `*id` is 0 when nothing was stored
    /// (out of memory; a null key object in insertText).
    virtual OxRxObject* insert(const OXCHAR* key, OxRxObject* object, unsigned* id = nullptr) = 0;
    /// Gives the entry at `id` the key `newKey`. False, with nothing changed, when `id` holds no
    /// key or `newKey` is found as the key of another entry. The replaced key is deleted: a pointer
    /// that keyOf gave for this id is then no longer valid.
    virtual bool renameById(unsigned id, const OXCHAR* newKey) = 0;
    /// Renames the entry of `oldKey` as renameById does. Only sorted dictionaries find the old
    /// key here: an unsorted one answers false.
    virtual bool rename(const OXCHAR* oldKey, const OXCHAR* newKey) = 0;
    /// Stores `object` under `key` at `id`; false when `id` is 0 or 0xFFFFFFFF, `id` already
    /// holds a key or an object, or `key` is found as the key of an entry.
    virtual bool insertAt(const OXCHAR* key, unsigned id, OxRxObject* object) = 0;
    /// Removes the entry at `id`. Returns its object when the dictionary does not own it, else
    /// deletes it and returns null; null when `id` holds no key. Erasing the highest id lowers
    /// it to the highest id holding an object; keys holding null between the two go with it.
    virtual OxRxObject* eraseById(unsigned id) = 0;
    virtual OxRxObject* erase(const OXCHAR* key) = 0;
    /// True when `id` holds an object.
    virtual bool containsId(unsigned id) const = 0;
    virtual bool contains(const OXCHAR* key) const = 0;
    /// The id of `key`, or 0.
    virtual unsigned idOf(const OXCHAR* key) const = 0;
    /// The key at `id` ("" for the empty key), or null when `id` holds no key. Valid until the
    /// entry is erased or renamed.
    virtual const OXCHAR* keyOf(unsigned id) const = 0;
    /// Sorted: the keys in the key index; unsorted: the ids holding an object.
    virtual unsigned count() const = 0;
    /// A new iterator on the first entry; delete it when done. The walk by key visits every key,
    /// the walk by id every id holding an object. It survives the erasure of its
    /// current entry (it moves on to the following one: the next call of next() then stays
    /// there) and the deletion of the dictionary (it is then done). An order other than the two
    /// of DictIterType gives an iterator that is done at once. Null when memory runs out.
    virtual OxRxDictionaryIterator* makeIterator(OxRx::DictIterType order = OxRx::kIterateByKey) const = 0;
    virtual bool ownsObjects() const = 0;
    /// True when the dictionary was made without ignore case. Keys ignore ASCII letter case
    /// either way.
    virtual bool caseSensitive() const = 0;
    virtual bool sorted() const = 0;
};

class DictArray;
class DictSkipList;
struct DictSkipListPosition;
class OxRxImpDictionaryIterator;

/// The one dictionary implementation. Objects come from the library heap.
class OXFIRST_API OxRxImpDictionary : public OxRxDictionary, public OxBaseClassWithNew {
    OX_RX_DECLARE_MEMBERS(OxRxImpDictionary)

    using OxBaseClassWithNew::operator new;
    using OxBaseClassWithNew::operator delete;

    /// Prefer the factories: they answer null when memory runs out during construction, while a
    /// dictionary constructed directly is then unusable (isComplete() false).
    OxRxImpDictionary(std::uint32_t initialCapacity, bool ownsObjects, bool sorted, bool ignoreCase);
    OxRxImpDictionary(const OxRxImpDictionary&) = delete;
    OxRxImpDictionary& operator=(const OxRxImpDictionary&) = delete;
    /// Detaches every live iterator, then drops every entry (deleting owned objects).
    ~OxRxImpDictionary() override;

    OxRxObject* lookupById(unsigned id) const override;
    OxRxObject* lookup(const OXCHAR* key) const override;
    OxRxObject* replaceAt(unsigned id, OxRxObject* object) override;
    OxRxObject* insert(const OXCHAR* key, OxRxObject* object, unsigned* id = nullptr) override;
    bool renameById(unsigned id, const OXCHAR* newKey) override;
    bool rename(const OXCHAR* oldKey, const OXCHAR* newKey) override;
    bool insertAt(const OXCHAR* key, unsigned id, OxRxObject* object) override;
    OxRxObject* eraseById(unsigned id) override;
    OxRxObject* erase(const OXCHAR* key) override;
    bool containsId(unsigned id) const override;
    bool contains(const OXCHAR* key) const override;
    unsigned idOf(const OXCHAR* key) const override;
    const OXCHAR* keyOf(unsigned id) const override;
    unsigned count() const override;
    OxRxDictionaryIterator* makeIterator(OxRx::DictIterType order = OxRx::kIterateByKey) const override;
    bool ownsObjects() const override;
    bool caseSensitive() const override;
    bool sorted() const override;

    // The same operations on ready-made keys. A null key finds nothing and stores nothing.
    // lookup, contains and idOf compare the caller's text directly and do not call lookupText,
    // containsText and idOfText: they build no key object and allocate nothing. The other
    // operations on text go through these virtuals with a key object on the stack.
    virtual OxRxObject* lookupText(const OxRxTextString* key) const;
    /// Stores a new key with `key`'s text (the caller keeps `key`).
    virtual OxRxObject* insertText(const OxRxTextString* key, OxRxObject* object, unsigned* id);
    /// Takes ownership of `newKey` (deleted when the rename fails).
    virtual bool renameByIdText(unsigned id, OxRxTextString* newKey);
    /// Takes ownership of `newKey` (deleted when the rename fails).
    virtual bool renameText(const OxRxTextString* oldKey, OxRxTextString* newKey);
    /// Stores a new key with `key`'s text (the caller keeps `key`).
    virtual bool insertAtText(const OxRxTextString* key, unsigned id, OxRxObject* object);
    virtual OxRxObject* eraseText(const OxRxTextString* key);
    virtual bool containsText(const OxRxTextString* key) const;
    virtual unsigned idOfText(const OxRxTextString* key) const;
    /// Builds an iterator in `storage` (kOxRxDictionaryIteratorStorage bytes, pointer-aligned).
    /// It is not told of erasures: erase nothing while it is in use. Destroy it with its
    /// destructor, not delete, and before the dictionary. Null for null storage.
    virtual OxRxDictionaryIterator* placeIterator(void* storage, OxRx::DictIterType order) const;

    /// A new dictionary with the same settings, ids and keys; objects are cloned when owned.
    OxRxObject* clone() const override;
    /// Empties this dictionary and copies `other`'s entries (ids kept). eInvalidInput, with
    /// nothing changed, unless `other` is an OxRxImpDictionary with the same ownsObjects().
    Orka::ErrorStatus copyFrom(const OxRxObject* other) override;
    /// Same ownership, count and sortedness, and in id order the same ids, keys equal ignoring
    /// case, and objects that are isEqualTo.
    int isEqualTo(const OxRxObject* other) const override;

    /// False when memory ran out while the dictionary was constructed.
    bool isComplete() const noexcept;

protected:
    friend class OxRxImpDictionaryIterator;
    /// Copies every entry of `source` in id order to the same ids (new keys in this
    /// dictionary's case mode, objects cloned when this one owns them). False when memory runs
    /// out; the entries copied so far stay.
    bool copyEntriesFrom(const OxRxImpDictionary& source);
    /// Fills a fresh `copy` with the entries of `source`; null (and the copy deleted) when it
    /// could not be made or filled. The common end of every clone.
    static OxRxObject* filledCopyOrNull(OxRxImpDictionary* copy, const OxRxImpDictionary& source);

private:
    unsigned findId(const OXCHAR* text) const noexcept;
    OxRxTextString* makeKey(const OXCHAR* text) const;
    bool storeEntry(unsigned id, OxRxTextString* key, OxRxObject* object,
                    DictSkipListPosition* position = nullptr);
    bool renameEntry(unsigned id, OxRxTextString* newKey);
    OxRxObject* unlinkEntry(unsigned id);
    OxRxObject* eraseEntry(unsigned id);
    void eraseAll();
    void notifyErasing(unsigned id) const;

protected:
    DictSkipList* mpKeyIndex = nullptr; // present exactly when sorted
    DictArray* mpEntries = nullptr;     // null only when construction ran out of memory
    OxRxSet* mpLiveIterators = nullptr; // iterators from makeIterator still attached; not owned
    int mIgnoreCase = 0;
};

/// The iterator handed to callers of makeIterator and placeIterator.
class OXFIRST_API OxRxImpDictionaryIterator : public OxRxDictionaryIterator, public OxBaseClassWithNew {
    OX_RX_DECLARE_MEMBERS(OxRxImpDictionaryIterator)

    using OxBaseClassWithNew::operator new;
    using OxBaseClassWithNew::operator delete;

    OxRxImpDictionaryIterator(const OxRxImpDictionary* dictionary, OxRx::DictIterType order);
    OxRxImpDictionaryIterator(const OxRxImpDictionaryIterator&) = delete;
    OxRxImpDictionaryIterator& operator=(const OxRxImpDictionaryIterator&) = delete;
    ~OxRxImpDictionaryIterator() override;

    int done() const override;
    int next() override;
    OxRxObject* object() const override;
    const OXCHAR* key() const override;
    unsigned id() const override;

    /// For the dictionary: its entry `id` is about to be erased.
    void entryErasing(unsigned id);
    /// For the dictionary: it is being destroyed.
    void detach();

private:
    const OxRxImpDictionary* mpDictionary; // null once detached
    OxRxDictionaryIterator* mpInner;       // null for an unknown order: done at once
    int mStepped = 0;                      // an erasure already moved the iterator on
};

/// Bytes of caller storage that OxRxImpDictionary::placeIterator needs.
inline constexpr std::size_t kOxRxDictionaryIteratorStorage = sizeof(OxRxImpDictionaryIterator);

/// A dictionary whose callers may restrict it to one element class through accepts().
class OXFIRST_API OxRxGenTypedDictionary : public OxRxImpDictionary {
    OX_RX_DECLARE_MEMBERS(OxRxGenTypedDictionary)

    explicit OxRxGenTypedDictionary(const OxRxClass* elementClass);

    /// A null object stores nothing and answers null.
    OxRxObject* insertText(const OxRxTextString* key, OxRxObject* object, unsigned* id) override;
    OxRxObject* replaceAt(unsigned id, OxRxObject* object) override;
    /// A typed dictionary of the same element class with the same entries.
    OxRxObject* clone() const override;
    int isEqualTo(const OxRxObject* other) const override;
    /// True when `object` is of the element class or derived from it.
    virtual bool accepts(const OxRxObject* object) const;

    const OxRxClass* elementClass() const noexcept { return mpElementClass; }

private:
    const OxRxClass* mpElementClass;
};

/// Unsorted, not owning, case-sensitive setting, no initial slots.
OXFIRST_API OxRxDictionary* newOxRxDictionary();
OXFIRST_API OxRxDictionary* newRxOpaqueDictionary(std::uint32_t initialCapacity, bool ownsObjects,
                                                  bool sorted, bool ignoreCase);
/// Not owning, no initial slots.
OXFIRST_API OxRxDictionary* newRxSortDictionary(bool sorted, bool ignoreCase);
/// An unsorted, not owning OxRxGenTypedDictionary of `elementClass`.
OXFIRST_API OxRxDictionary* newRxTypedDictionary(const OxRxClass* elementClass);
