// rx/DictArray.h
// Id-indexed storage behind every dictionary, and its id-order iterator. Slot i holds id i+1;
// slots below the highest id may be empty. The sorted key index (DictSkipList.h) refers to
// entries by id only, so nothing here knows about key order.
#pragma once

#include <oxfirst/OxRxDictionary.h>
#include <oxfirst/OxRxTextString.h>

#include <cstdint>

/// One slot. A slot holds an entry exactly when its key is not null; the entry's object may be
/// null (a caller may store null under a key). An empty slot has both pointers null.
struct DictEntry {
    OxRxTextString* key;
    OxRxObject* object;
};

class DictArray : public OxBaseClassWithNew {
public:
    /// Allocates `initialCapacity` empty slots (a failure is the out-of-memory report and leaves
    /// no slots). `ownsKeys` is set exactly when no key index owns the keys.
    DictArray(std::uint32_t initialCapacity, bool ownsObjects, bool ownsKeys);
    /// Drops every entry (resize(0)).
    ~DictArray();
    DictArray(const DictArray&) = delete;
    DictArray& operator=(const DictArray&) = delete;

    /// The slot of `id`, or null for 0 and for ids above the highest id.
    const DictEntry* slot(unsigned id) const noexcept
    {
        // id 0 wraps to the largest value and fails the same single test.
        return id - 1u < mHighestId ? &mpSlots[id - 1u] : nullptr;
    }
    /// The object at `id`; null for an empty slot or an id outside 1..highest id.
    OxRxObject* objectAt(unsigned id) const noexcept
    {
        const DictEntry* entry = slot(id);
        return entry != nullptr ? entry->object : nullptr;
    }
    OxRxTextString* keyAt(unsigned id) const noexcept
    {
        const DictEntry* entry = slot(id);
        return entry != nullptr ? entry->key : nullptr;
    }
    bool hasEntry(unsigned id) const noexcept { return keyAt(id) != nullptr; }

    /// Stores a new entry at the empty slot `id` (not 0), growing the slots when `id` is beyond
    /// the capacity and raising the highest id to `id` when it is above it. False, with nothing
    /// changed, when the slots cannot grow (the out-of-memory report is made).
    bool store(unsigned id, OxRxTextString* key, OxRxObject* object);
    /// Empties the slot of the entry `id` and returns what it held; lowers the highest id to
    /// the highest remaining entry when `id` was the highest. Deletes nothing.
    DictEntry take(unsigned id) noexcept;
    /// Puts `object` in the entry `id` and writes the previous object to `*previous`. An id
    /// that holds no entry is the report "Invalid Dictionary Array Index: %d" and changes
    /// nothing (false).
    bool replaceObject(unsigned id, OxRxObject* object, OxRxObject** previous);
    /// Puts `key` in the entry `id` and writes the previous key to `*previous`; the same report
    /// as replaceObject for an id without entry.
    bool replaceKey(unsigned id, OxRxTextString* key, OxRxTextString** previous);

    /// The first entry id above `id`, or highest id + 1 when there is none.
    unsigned nextEntry(unsigned id) const noexcept;
    /// The first id whose key equals `text` (ignoring ASCII letter case; null = empty), or 0.
    /// A linear scan.
    unsigned findKey(const OXCHAR* text) const noexcept;

    /// Sets the number of slots. Shrinking first drops the entries beyond the new size (each
    /// object deleted when the array owns objects, each key when it owns keys) and lowers the
    /// highest id. Growing zero-fills the new slots. A failed allocation is the report
    /// "Out of Memory in DictArray 1\n" and changes nothing (false).
    bool resize(std::uint32_t capacity);

    unsigned highestId() const noexcept { return mHighestId; }
    std::uint32_t capacity() const noexcept { return mCapacity; }
    /// Number of entries.
    unsigned count() const noexcept { return mCount; }
    bool ownsObjects() const noexcept { return mOwnsObjects != 0; }
    bool ownsKeys() const noexcept { return mOwnsKeys != 0; }

private:
    void lowerHighestId() noexcept;
    void dropAbove(std::uint32_t capacity) noexcept;

    DictEntry* mpSlots = nullptr; // C heap; null exactly when mCapacity == 0
    std::uint32_t mCapacity = 0;
    int mOwnsObjects;
    int mOwnsKeys;
    std::uint32_t mHighestId = 0; // the highest id holding an entry; 0 when empty
    std::uint32_t mCount = 0;     // slots holding an entry
    // mHighestId <= mCapacity; slots above mHighestId are empty; when mHighestId != 0 its slot
    // holds an entry; mCount == number of slots with a key.
};

/// Walks the entries of a DictArray in ascending id order. It reads the array afresh on every
/// call, so it stays safe whatever happens to the entries (it never holds a slot pointer).
class DictArrayIterator : public OxRxDictionaryIterator, public OxBaseClassWithNew {
public:
    using OxBaseClassWithNew::operator new;
    using OxBaseClassWithNew::operator delete;

    /// On the first entry.
    explicit DictArrayIterator(const DictArray* entries) noexcept;

    int done() const override;
    int next() override;
    OxRxObject* object() const override;
    /// The key's text; an empty key reads as "".
    const OXCHAR* key() const override;
    unsigned id() const override;

private:
    const DictArray* mpEntries;
    unsigned mCurrentId; // done when above the array's highest id
};
