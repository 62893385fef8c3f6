// rx/DictArray.h
// Id-indexed storage behind every dictionary, and its id-order iterator. Slot i holds id i+1;
// slots below the highest id may be free. The sorted key index (DictSkipList.h) refers to
// entries by id only, so nothing here knows about key order.
#pragma once

#include <oxfirst/OxRxDictionary.h>
#include <oxfirst/OxRxTextString.h>

#include <cstdint>

/// One slot: a key and an object, a key with a null object (a caller stored null under a
/// key), an object without key (replaceAt into a hole), or nothing (both null).
struct DictEntry {
    OxRxTextString* key;
    OxRxObject* object;
};

class DictArray : public OxBaseClassWithNew {
public:
    /// Allocates `initialCapacity` empty slots (a failure is the out-of-memory report and leaves
    /// no slots). `ownsKeys` is set exactly when no key index owns the keys.
    DictArray(std::uint32_t initialCapacity, bool ownsObjects, bool ownsKeys);
    /// Drops every slot in use: objects deleted when the array owns them, keys likewise.
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
    /// True when `id` is above the highest id or its slot holds neither key nor object.
    bool isFree(unsigned id) const noexcept
    {
        const DictEntry* entry = slot(id);
        return entry == nullptr || (entry->key == nullptr && entry->object == nullptr);
    }

    /// Stores at the free slot `id` (not 0), growing the slots when `id` is beyond the capacity
    /// and raising the highest id to `id` when it is above it. False, with nothing changed,
    /// when the slots cannot grow (the out-of-memory report is made).
    bool store(unsigned id, OxRxTextString* key, OxRxObject* object);
    /// Empties the slot `id` and returns what it held; when `id` was the highest id, the highest
    /// id falls to the highest slot below that is not free. Deletes nothing.
    DictEntry take(unsigned id) noexcept;
    /// Puts `object` in the slot `id`, which may be a hole, and writes the previous object to
    /// `*previous`. An id outside 1..highest id is the report "Invalid Dictionary Array Index:
    /// %d" and changes nothing (false).
    bool replaceObject(unsigned id, OxRxObject* object, OxRxObject** previous);
    /// Puts `key` in the slot `id` and writes the previous key to `*previous`; the same report
    /// as replaceObject for an id outside 1..highest id.
    bool replaceKey(unsigned id, OxRxTextString* key, OxRxTextString** previous);

    /// The first id above `id` whose object is not null, or highest id + 1 when there is none:
    /// the steps of the walk in id order.
    unsigned nextObject(unsigned id) const noexcept;
    /// The first id above `id` whose slot is not free, or highest id + 1 when there is none.
    unsigned nextInUse(unsigned id) const noexcept;
    /// The first id whose object is not null and whose key equals `text` (ignoring ASCII letter
    /// case; null = empty), or 0. A linear scan.
    unsigned findKey(const OXCHAR* text) const noexcept;

    unsigned highestId() const noexcept { return mHighestId; }
    std::uint32_t capacity() const noexcept { return mCapacity; }
    /// Number of slots whose object is not null.
    unsigned count() const noexcept { return mCount; }
    bool ownsObjects() const noexcept { return mOwnsObjects != 0; }
    bool ownsKeys() const noexcept { return mOwnsKeys != 0; }

private:
    bool grow(std::uint32_t capacity);

    DictEntry* mpSlots = nullptr; // C heap; null exactly when mCapacity == 0
    std::uint32_t mCapacity = 0;
    int mOwnsObjects;
    int mOwnsKeys;
    std::uint32_t mHighestId = 0; // 0 when no slot was ever used or all were emptied
    std::uint32_t mCount = 0;     // slots whose object is not null
    // mHighestId <= mCapacity; every slot above mHighestId is free. The slot of mHighestId
    // itself may be free when replaceAt emptied it: only take() lowers the highest id.
};

/// Walks the slots of a DictArray whose object is not null, in ascending id order. It reads
/// the array afresh on every call, so it stays safe whatever happens to the slots (it never
/// holds a slot pointer).
class DictArrayIterator : public OxRxDictionaryIterator, public OxBaseClassWithNew {
public:
    using OxBaseClassWithNew::operator new;
    using OxBaseClassWithNew::operator delete;

    /// On the first entry.
    explicit DictArrayIterator(const DictArray* entries) noexcept;

    int done() const override;
    int next() override;
    OxRxObject* object() const override;
    /// The key's text; an empty key reads as "", a slot without key as null.
    const OXCHAR* key() const override;
    unsigned id() const override;

private:
    const DictArray* mpEntries;
    unsigned mCurrentId; // done when above the array's highest id
};
