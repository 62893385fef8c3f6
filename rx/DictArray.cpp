// rx/DictArray.cpp
// The id-indexed slots of a dictionary, kept in the C heap, and the id-order iterator. Every
// failure leaves the array as it was: the reports go through oxrx_abort, whose host callback
// may return and let the caller carry on with the array it had.

#include "rx/DictArray.h"

#include "rx/DictKeyText.h"

#include <oxfirst/OxRxCallbacks.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const OXCHAR kEmptyText[] = u"";

void reportInvalidIndex(unsigned id)
{
    oxrx_abort(u"Invalid Dictionary Array Index: %d", static_cast<int>(id));
}

// Growth for an id beyond the capacity: id * 1.1 rounded down, but at least five slots more
// than now, so a run of ids one above the other does not reallocate on every store.
std::uint32_t grownCapacity(std::uint32_t capacity, unsigned id)
{
    const std::uint64_t byRatio = static_cast<std::uint64_t>(id) + id / 10u;
    const std::uint64_t byStep = static_cast<std::uint64_t>(capacity) + 5u;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max(byRatio, byStep), UINT32_MAX));
}

} // namespace

DictArray::DictArray(std::uint32_t initialCapacity, bool ownsObjects, bool ownsKeys)
    : mOwnsObjects(ownsObjects ? 1 : 0), mOwnsKeys(ownsKeys ? 1 : 0)
{
    if (initialCapacity != 0)
        grow(initialCapacity);
}

// Each slot is emptied before its object or key is deleted, so a destructor that looks at the
// array finds it consistent.
DictArray::~DictArray()
{
    while (mHighestId != 0) {
        const DictEntry entry = take(mHighestId);
        if (mOwnsObjects != 0)
            delete entry.object;
        if (mOwnsKeys != 0)
            delete entry.key;
    }
    std::free(mpSlots);
}

bool DictArray::grow(std::uint32_t capacity)
{
    DictEntry* slots;
    if (mpSlots == nullptr)
        slots = static_cast<DictEntry*>(std::calloc(capacity, sizeof(DictEntry)));
    else
        slots = static_cast<DictEntry*>(
            std::realloc(mpSlots, static_cast<std::size_t>(capacity) * sizeof(DictEntry)));
    if (slots == nullptr) {
        oxrx_abort(u"Out of Memory in DictArray 1\n");
        return false;
    }
    if (mpSlots != nullptr)
        std::memset(static_cast<void*>(slots + mCapacity), 0,
                    (static_cast<std::size_t>(capacity) - mCapacity) * sizeof(DictEntry));
    mpSlots = slots;
    mCapacity = capacity;
    return true;
}

bool DictArray::store(unsigned id, OxRxTextString* key, OxRxObject* object)
{
    if (id > mCapacity && !grow(grownCapacity(mCapacity, id)))
        return false;
    mpSlots[id - 1u] = DictEntry{key, object};
    if (object != nullptr)
        ++mCount;
    if (id > mHighestId)
        mHighestId = id;
    return true;
}

DictEntry DictArray::take(unsigned id) noexcept
{
    if (slot(id) == nullptr)
        return DictEntry{nullptr, nullptr};
    DictEntry& entry = mpSlots[id - 1u];
    const DictEntry taken = entry;
    entry = DictEntry{nullptr, nullptr};
    if (taken.object != nullptr)
        --mCount;
    if (id == mHighestId) {
        while (id > 0 && isFree(id))
            --id;
        mHighestId = id;
    }
    return taken;
}

bool DictArray::replaceObject(unsigned id, OxRxObject* object, OxRxObject** previous)
{
    if (slot(id) == nullptr) {
        reportInvalidIndex(id);
        return false;
    }
    DictEntry& entry = mpSlots[id - 1u];
    *previous = entry.object;
    entry.object = object;
    if (*previous != nullptr)
        --mCount;
    if (object != nullptr)
        ++mCount;
    return true;
}

bool DictArray::replaceKey(unsigned id, OxRxTextString* key, OxRxTextString** previous)
{
    if (slot(id) == nullptr) {
        reportInvalidIndex(id);
        return false;
    }
    DictEntry& entry = mpSlots[id - 1u];
    *previous = entry.key;
    entry.key = key;
    return true;
}

unsigned DictArray::nextObject(unsigned id) const noexcept
{
    unsigned next = id + 1u;
    while (next <= mHighestId && mpSlots[next - 1u].object == nullptr)
        ++next;
    return next <= mHighestId ? next : mHighestId + 1u;
}

unsigned DictArray::nextInUse(unsigned id) const noexcept
{
    unsigned next = id + 1u;
    while (next <= mHighestId && isFree(next))
        ++next;
    return next <= mHighestId ? next : mHighestId + 1u;
}

unsigned DictArray::findKey(const OXCHAR* text) const noexcept
{
    for (std::uint32_t id = 1; id <= mHighestId; ++id) {
        const DictEntry& entry = mpSlots[id - 1u];
        if (entry.object != nullptr && entry.key != nullptr &&
            oxrx_dict::keyTextsEqual(text, oxrx_dict::keyText(entry.key)))
            return id;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// DictArrayIterator

DictArrayIterator::DictArrayIterator(const DictArray* entries) noexcept
    : mpEntries(entries), mCurrentId(entries->nextObject(0))
{
}

int DictArrayIterator::done() const
{
    return mCurrentId > mpEntries->highestId() ? 1 : 0;
}

int DictArrayIterator::next()
{
    if (done() != 0)
        return 0;
    mCurrentId = mpEntries->nextObject(mCurrentId);
    return done() == 0 ? 1 : 0;
}

OxRxObject* DictArrayIterator::object() const
{
    return mpEntries->objectAt(mCurrentId);
}

const OXCHAR* DictArrayIterator::key() const
{
    const OxRxTextString* key = mpEntries->keyAt(mCurrentId);
    if (key == nullptr)
        return nullptr;
    const OXCHAR* text = key->constText();
    return text != nullptr ? text : kEmptyText;
}

unsigned DictArrayIterator::id() const
{
    return done() != 0 ? 0u : mCurrentId;
}
