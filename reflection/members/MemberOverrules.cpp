// reflection/members/MemberOverrules.cpp
// Member overrules: the list each member owns, and the chain that a property read or write, a
// collection's iterator or count runs through. The chain position lives on the caller's stack;
// each overrule called points its current-iterator field at it for the length of the call and
// gets its previous value back afterwards, exceptions included, so nested calls through one
// overrule are safe.

#include <oxfirst/OxRxProperty.h>

OX_RX_DEFINE_MEMBERS(OxRxMemberOverrule, u"OxRxMemberOverrule", u"OxRxOverruleBase", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxPropertyOverrule, u"OxRxPropertyOverrule", u"OxRxMemberOverrule", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxCollectionPropertyOverrule, u"OxRxCollectionPropertyOverrule", u"OxRxMemberOverrule",
                     nullptr)

OxRxMemberOverrule::~OxRxMemberOverrule() = default;
OxRxPropertyOverrule::~OxRxPropertyOverrule() = default;
OxRxCollectionPropertyOverrule::~OxRxCollectionPropertyOverrule() = default;

namespace {

// Runs the rest of a chain from `position`: the next overrule through `call`, or the member's
// own operation `own` after the last. A member's list holds overrules of the family that fits
// the member (property overrules on properties, collection overrules on collections).
template <class Family, class Call, class Own>
auto continueChain(OxRxMemberOverruleIterator& position, Call call, Own own)
{
    OxRxMemberOverrule* next = position.advance();
    if (next == nullptr)
        return own();
    auto* overrule = static_cast<Family*>(next);
    OxRxOverruleIteratorScope scope(overrule, &position);
    return call(overrule);
}

// The chain position an overrule's default operation continues from; null outside a chain.
OxRxMemberOverruleIterator* positionOf(const OxRxMemberOverrule* overrule) noexcept
{
    return static_cast<OxRxMemberOverruleIterator*>(OxRxOverruleInternals::getIterator(overrule));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The public operations that run through the chain.

Orka::ErrorStatus OxRxProperty::getValueSlow(const OxRxObject* object, OxRxValue& value) const
{
    OxRxMemberOverruleIterator position(mpImp->mpOverrules);
    return continueChain<OxRxPropertyOverrule>(
        position, [&](OxRxPropertyOverrule* o) { return o->getValue(this, object, value); },
        [&] { return subGetValue(object, value); });
}

Orka::ErrorStatus OxRxProperty::setValueSlow(OxRxObject* object, const OxRxValue& value) const
{
    OxRxMemberOverruleIterator position(mpImp->mpOverrules);
    return continueChain<OxRxPropertyOverrule>(
        position, [&](OxRxPropertyOverrule* o) { return o->setValue(this, object, value); },
        [&] { return subSetValue(object, value); });
}

OxRxValueIterator* OxRxCollectionProperty::newValueIterator(const OxRxObject* object) const
{
    OxRxMemberOverruleIterator position(mpImp->mpOverrules);
    return continueChain<OxRxCollectionPropertyOverrule>(
        position, [&](OxRxCollectionPropertyOverrule* o) { return o->newValueIterator(this, object); },
        [&] { return subNewValueIterator(object); });
}

Orka::ErrorStatus OxRxCollectionProperty::tryGetCount(const OxRxObject* object, int& count) const
{
    OxRxMemberOverruleIterator position(mpImp->mpOverrules);
    return continueChain<OxRxCollectionPropertyOverrule>(
        position, [&](OxRxCollectionPropertyOverrule* o) { return o->tryGetCount(this, object, count); },
        [&] { return subTryGetCount(object, count); });
}

// ---------------------------------------------------------------------------------------------
// The overrules' default operations: on along the chain of the call passing through, or, called
// outside any chain, the member's own operation.

Orka::ErrorStatus OxRxPropertyOverrule::getValue(const OxRxProperty* property, const OxRxObject* object,
                                                 OxRxValue& value)
{
    OxRxMemberOverruleIterator* position = positionOf(this);
    if (position == nullptr)
        return property->subGetValue(object, value);
    return continueChain<OxRxPropertyOverrule>(
        *position, [&](OxRxPropertyOverrule* o) { return o->getValue(property, object, value); },
        [&] { return property->subGetValue(object, value); });
}

Orka::ErrorStatus OxRxPropertyOverrule::setValue(const OxRxProperty* property, OxRxObject* object,
                                                 const OxRxValue& value)
{
    OxRxMemberOverruleIterator* position = positionOf(this);
    if (position == nullptr)
        return property->subSetValue(object, value);
    return continueChain<OxRxPropertyOverrule>(
        *position, [&](OxRxPropertyOverrule* o) { return o->setValue(property, object, value); },
        [&] { return property->subSetValue(object, value); });
}

OxRxValueIterator* OxRxCollectionPropertyOverrule::newValueIterator(const OxRxCollectionProperty* property,
                                                                    const OxRxObject* object)
{
    OxRxMemberOverruleIterator* position = positionOf(this);
    if (position == nullptr)
        return property->subNewValueIterator(object);
    return continueChain<OxRxCollectionPropertyOverrule>(
        *position, [&](OxRxCollectionPropertyOverrule* o) { return o->newValueIterator(property, object); },
        [&] { return property->subNewValueIterator(object); });
}

Orka::ErrorStatus OxRxCollectionPropertyOverrule::tryGetCount(const OxRxCollectionProperty* property,
                                                              const OxRxObject* object, int& count)
{
    OxRxMemberOverruleIterator* position = positionOf(this);
    if (position == nullptr)
        return property->subTryGetCount(object, count);
    return continueChain<OxRxCollectionPropertyOverrule>(
        *position, [&](OxRxCollectionPropertyOverrule* o) { return o->tryGetCount(property, object, count); },
        [&] { return property->subTryGetCount(object, count); });
}

// ---------------------------------------------------------------------------------------------
// The registry.

Orka::ErrorStatus OxRxMemberOverrule::addOverrule(OxRxMember* member, OxRxMemberOverrule* overrule,
                                                  bool addAtLast)
{
    if (member == nullptr || overrule == nullptr)
        return Orka::eInvalidInput;
    OxArray<OxRxMemberOverrule*>*& list = member->imp()->mpOverrules;
    if (list == nullptr && (list = new (std::nothrow) OxArray<OxRxMemberOverrule*>(0, 8)) == nullptr)
        return Orka::eInvalidInput;
    const bool added = addAtLast ? list->append(overrule) >= 0 : list->insertAt(0, overrule);
    return added ? Orka::eOk : Orka::eInvalidInput;
}

Orka::ErrorStatus OxRxMemberOverrule::removeOverrule(OxRxMember* member, OxRxMemberOverrule* overrule)
{
    if (member == nullptr || overrule == nullptr)
        return Orka::eInvalidInput;
    // The list stays, empty or not, until the member goes: a chain running on this thread may
    // still stand in it.
    if (OxArray<OxRxMemberOverrule*>* list = member->imp()->mpOverrules)
        list->removeAt(list->find(overrule));
    return Orka::eOk;
}

Orka::ErrorStatus
OxRxMemberOverrule::removeOverrules(const OxArray<Record, OxArrayObjectCopyReallocator<Record>>& records)
{
    Orka::ErrorStatus status = Orka::eOk;
    for (int i = 0; i < records.logicalLength(); ++i)
        if (removeOverrule(records[i].member, records[i].overrule) != Orka::eOk)
            status = Orka::eInvalidInput;
    return status;
}
