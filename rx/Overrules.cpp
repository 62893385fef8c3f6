// rx/Overrules.cpp
// The overrule registry: the three overrule classes, the per-class lists (OxRxOverruleEntry)
// and adding and removing overrules. A family's lists live in the protocol slots of the family
// class (ProtocolExtensions.cpp): addX copies a new list down to the classes that shared the
// old one, delX gives a class its parent's list back. Dispatch is in OverruleDispatch.cpp.

#include <oxfirst/OxRxOverrule.h>

#include <oxfirst/OxRxSet.h>

#include "rx/ImpClass.h"

OX_RX_DEFINE_MEMBERS(OxRxOverruleBase, u"OxRxOverruleBase", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxOverrule, u"OxRxOverrule", u"OxRxOverruleBase", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxQueryXOverrule, u"OxRxQueryXOverrule", u"OxRxOverrule", nullptr)

OxRxOverruleBase::~OxRxOverruleBase() = default;
OxRxOverrule::~OxRxOverrule() = default;
OxRxQueryXOverrule::~OxRxQueryXOverrule() = default;
OxRxOverruleEntry::~OxRxOverruleEntry() = default;

Orka::ErrorStatus OxRxOverruleEntry::add(OxRxOverrule* overrule, bool atLast)
{
    if (mOverrules.contains(overrule))
        return Orka::eDuplicateKey;
    const bool added = atLast ? mOverrules.append(overrule) >= 0 : mOverrules.insertAt(0, overrule);
    return added ? Orka::eOk : Orka::eInvalidInput;
}

bool OxRxOverruleEntry::remove(const OxRxOverrule* overrule) noexcept
{
    const int index = mOverrules.find(const_cast<OxRxOverrule*>(overrule));
    return index >= 0 && mOverrules.removeAt(index);
}

namespace {

OxRxClass* parentOf(const OxRxClass* rxClass) noexcept
{
    const OxRxImpClass* record = rxClass != nullptr ? rxClass->imp() : nullptr;
    return record != nullptr ? record->mpParent : nullptr;
}

// The class just below "OxRxOverrule" on the way up from the overrule's class; null when the
// walk never meets "OxRxOverrule" (a class not linked yet, or not an overrule class at all).
OxRxClass* familyOf(const OxRxOverrule* overrule) noexcept
{
    OxRxClass* overruleClass = OxRxOverrule::desc();
    OxRxClass* rxClass = overrule->isA();
    if (overruleClass == nullptr || rxClass == overruleClass)
        return rxClass;
    for (OxRxClass* below = rxClass; below != nullptr; below = parentOf(below))
        if (parentOf(below) == overruleClass)
            return below;
    return nullptr;
}

// The family's slots hold nothing but lists: only this file writes them.
OxRxOverruleEntry* listOf(const OxRxClass* rxClass, const OxRxClass* family) noexcept
{
    return static_cast<OxRxOverruleEntry*>(rxClass->queryX(family));
}

// The children of `rxClass` that have a record.
template <class Visit>
void forEachLinkedChild(const OxRxClass* rxClass, Visit&& visit)
{
    oxrx::forEachChild(rxClass->imp(), [&](OxRxClass* child) {
        if (child != nullptr && child->imp() != nullptr)
            visit(child);
    });
}

// Below `rxClass`, whose list is `list`: every class holding a list other than the one above
// it has a list of its own, which receives the overrule too.
void addToOwnListsBelow(const OxRxClass* rxClass, const OxRxClass* family, OxRxOverruleEntry* list,
                        OxRxOverrule* overrule, bool atLast)
{
    forEachLinkedChild(rxClass, [&](OxRxClass* child) {
        OxRxOverruleEntry* own = listOf(child, family);
        if (own != nullptr && own != list)
            own->add(overrule, atLast);
        addToOwnListsBelow(child, family, own != nullptr ? own : list, overrule, atLast);
    });
}

// Each distinct list held in the subtree of `rxClass`.
void collectLists(const OxRxClass* rxClass, const OxRxClass* family, OxArray<OxRxOverruleEntry*>& lists)
{
    if (OxRxOverruleEntry* list = listOf(rxClass, family); list != nullptr && !lists.contains(list))
        lists.append(list);
    forEachLinkedChild(rxClass, [&](OxRxClass* child) { collectLists(child, family, lists); });
}

} // namespace

Orka::ErrorStatus OxRxOverrule::addOverrule(OxRxClass* rxClass, OxRxOverrule* overrule, bool addAtLast)
{
    if (rxClass == nullptr || rxClass->imp() == nullptr || overrule == nullptr || overrule->isA() == nullptr)
        return Orka::eInvalidInput;
    OxRxClass* family = familyOf(overrule);
    if (family == nullptr)
        return Orka::eInvalidInput;
    if (family == OxRxQueryXOverrule::desc())
        OxRxObject::gQueryXOverruled = true;
    OxRxOverruleEntry* list = listOf(rxClass, family);
    const OxRxClass* parent = parentOf(rxClass);
    const OxRxOverruleEntry* inherited = parent != nullptr ? listOf(parent, family) : nullptr;
    if (list == nullptr || list == inherited) {
        // The class gets a list of its own, starting as a copy of the one it shared; addX
        // hands it to every descendant that shared the old list or had none.
        auto* own = list != nullptr ? new OxRxOverruleEntry(*list) : new OxRxOverruleEntry;
        if (own == nullptr || (list != nullptr && own->count() != list->count())) {
            delete own;
            return Orka::eInvalidInput;
        }
        rxClass->addX(family, own);
        if (listOf(rxClass, family) != own) {
            delete own;
            return Orka::eInvalidInput;
        }
        list = own;
    }
    addToOwnListsBelow(rxClass, family, list, overrule, addAtLast);
    return list->add(overrule, addAtLast);
}

// Lists are collected first and then processed one by one: dropping a list changes which list
// its holders see, and a list met that way (the one above) must not lose the overrule on their
// account. A list that becomes empty is dropped wherever it is held, ancestors of `rxClass`
// included, so that each holder shares the list above it again and nothing points at the
// deleted entry.
Orka::ErrorStatus OxRxOverrule::removeOverrule(OxRxClass* rxClass, OxRxOverrule* overrule)
{
    if (rxClass == nullptr || overrule == nullptr || overrule->isA() == nullptr)
        return Orka::eInvalidInput;
    OxRxClass* family = familyOf(overrule);
    if (family == nullptr)
        return Orka::eInvalidInput;
    if (rxClass->imp() == nullptr || family->imp() == nullptr || family->imp()->mProtocolIndex < 0)
        return Orka::eOk;
    OxArray<OxRxOverruleEntry*> lists;
    collectLists(rxClass, family, lists);
    for (int i = 0; i < lists.logicalLength(); ++i) {
        OxRxOverruleEntry* list = lists[i];
        list->remove(overrule);
        if (list->count() != 0)
            continue;
        oxrx::forgetExtension(family->imp()->mProtocolIndex, list);
        delete list;
    }
    return Orka::eOk;
}
