// rx/DictionaryIterator.cpp
// The iterator callers get from a dictionary. It wraps an inner walk (by id over the DictArray,
// by key over the DictSkipList) and adds what the inner walks cannot do alone: surviving the
// erasure of the current entry (the dictionary steps it first and sets the step-made flag) and
// the deletion of the dictionary (detached, it reports done and touches nothing).

#include <oxfirst/OxRxDictionary.h>

#include "rx/DictArray.h"
#include "rx/DictSkipList.h"

OX_RX_DEFINE_MEMBERS(OxRxDictionaryIterator, u"OxRxDictionaryIterator", u"OxRxIterator", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxImpDictionaryIterator, u"OxRxImpDictionaryIterator", u"OxRxDictionaryIterator",
                     nullptr)

// An unsorted dictionary walks by id whatever was asked. An order that is neither key nor id
// makes no inner walk: the iterator is done at once. An iterator that starts done is detached
// at once, so it never sees entries inserted later and never needs an erasure notice.
OxRxImpDictionaryIterator::OxRxImpDictionaryIterator(const OxRxImpDictionary* dictionary,
                                                     OxRx::DictIterType order)
    : mpDictionary(dictionary), mpInner(nullptr)
{
    if (dictionary == nullptr)
        return;
    const OxRx::DictIterType effective = dictionary->sorted() ? order : OxRx::kIterateById;
    if (effective == OxRx::kIterateByKey)
        mpInner = new DictSkipListIterator(dictionary->mpKeyIndex);
    else if (effective == OxRx::kIterateById)
        mpInner = new DictArrayIterator(dictionary->mpEntries);
    if (mpInner == nullptr || mpInner->done() != 0)
        mpDictionary = nullptr;
}

OxRxImpDictionaryIterator::~OxRxImpDictionaryIterator()
{
    detach();
    delete mpInner;
}

void OxRxImpDictionaryIterator::detach()
{
    if (mpDictionary != nullptr && mpDictionary->mpLiveIterators != nullptr)
        mpDictionary->mpLiveIterators->removeByPointer(this);
    mpDictionary = nullptr;
    mStepped = 0;
}

int OxRxImpDictionaryIterator::done() const
{
    return mpDictionary == nullptr || mpInner->done() != 0 ? 1 : 0;
}

int OxRxImpDictionaryIterator::next()
{
    if (mStepped != 0) {
        // An erasure already moved the iterator onto the entry that followed.
        mStepped = 0;
        return 1;
    }
    if (done() == 0 && mpInner->next() != 0)
        return 1;
    detach();
    return 0;
}

OxRxObject* OxRxImpDictionaryIterator::object() const
{
    if (done() != 0)
        return nullptr;
    if (OxRxObject* object = mpInner->object())
        return object;
    return mpDictionary->lookupById(mpInner->id());
}

const OXCHAR* OxRxImpDictionaryIterator::key() const
{
    return done() != 0 ? nullptr : mpInner->key();
}

unsigned OxRxImpDictionaryIterator::id() const
{
    return done() != 0 ? 0u : mpInner->id();
}

void OxRxImpDictionaryIterator::entryErasing(unsigned id)
{
    if (done() != 0 || mpInner->id() != id)
        return;
    if (mpInner->next() != 0)
        mStepped = 1;
    else
        detach();
}
