// rx/OverruleDispatch.cpp
// Walking a chain of overrules: the iterator a dispatcher keeps on its stack, hasOverrule, and
// the queryX family's dispatch. Each call into an overrule first points the overrule's current
// iterator at the caller's iterator and restores the previous one afterwards, exceptions
// included, so an overrule may take part in several nested dispatches at once.

#include <oxfirst/OxRxOverrule.h>

#include "rx/ImpClass.h"

OxRxOverruleIterator::OxRxOverruleIterator(const OxRxObject* object, const OxRxClass* familyClass) noexcept
{
    if (object == nullptr || familyClass == nullptr || familyClass->imp() == nullptr)
        return;
    const OxRxClass* rxClass = object->isA();
    if (rxClass == nullptr)
        return;
    const auto* list = static_cast<const OxRxOverruleEntry*>(
        oxrx::protocolSlot(rxClass->imp(), familyClass->imp()->mProtocolIndex));
    if (list == nullptr)
        return;
    mpObject = object;
    mpPosition = list->begin();
    mpEnd = list->end();
    mFirst = 1;
}

OxRxOverruleIterator::~OxRxOverruleIterator() = default;

bool OxRxOverruleIterator::next()
{
    if (mpObject == nullptr)
        return false;
    if (mFirst != 0)
        mFirst = 0;
    else if (mpPosition != mpEnd)
        ++mpPosition;
    while (mpPosition != mpEnd && !(*mpPosition)->appliesTo(mpObject))
        ++mpPosition;
    return mpPosition != mpEnd;
}

OxRxOverrule* OxRxOverruleIterator::current() const noexcept
{
    return mpObject != nullptr && mFirst == 0 && mpPosition != mpEnd ? *mpPosition : nullptr;
}

bool OxRxOverrule::hasOverrule(const OxRxObject* object, OxRxClass* familyClass)
{
    if (object == nullptr || familyClass == nullptr)
        return false;
    OxRxOverruleIterator it(object, familyClass);
    return it.next();
}

OxRxObject* OxRxQueryXOverrule::callChain(OxRxOverruleIterator& it, bool found, const OxRxObject* object,
                                          const OxRxClass* protocolClass)
{
    if (!found)
        return object != nullptr ? object->subQueryX(protocolClass) : nullptr;
    // Only OxRxQueryXOverrule objects are in this family's lists.
    auto* overrule = static_cast<OxRxQueryXOverrule*>(it.current());
    OxRxOverruleIteratorScope scope(overrule, &it);
    return overrule->queryX(object, protocolClass);
}

// A queryX overrule's current iterator is the OxRxOverruleIterator of the dispatch passing through
// it: callChain sets it so, and a host setting it through OxRxOverruleInternals must do the same.
OxRxObject* OxRxQueryXOverrule::queryX(const OxRxObject* object, const OxRxClass* protocolClass)
{
    auto* it = static_cast<OxRxOverruleIterator*>(OxRxOverruleInternals::getIterator(this));
    if (it == nullptr || it->mpObject != object)
        return object != nullptr ? object->subQueryX(protocolClass) : nullptr;
    return callChain(*it, it->next(), object, protocolClass);
}

namespace oxrx {

OxRxObject* dispatchQueryX(const OxRxObject* object, const OxRxClass* family, const OxRxClass* protocolClass)
{
    OxRxOverruleIterator it(object, family);
    return OxRxQueryXOverrule::callChain(it, it.next(), object, protocolClass);
}

} // namespace oxrx
