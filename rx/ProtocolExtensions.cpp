// rx/ProtocolExtensions.cpp
// Protocol extensions: every class keeps, per protocol index, the extension in effect for it,
// so a lookup is one array read. addX and delX pay instead, copying a change down the whole
// subtree of the class at once.

#include <oxfirst/OxRxClass.h>

#include <oxfirst/OxRxCallbacks.h>
#include <oxfirst/OxRxOverrule.h>
#include <oxfirst/OxRxSet.h>

#include "rx/ImpClass.h"
#include "rx/RegistryState.h"

namespace oxrx {

OxRxObject* protocolSlot(const OxRxImpClass* rxClass, int index) noexcept
{
    if (rxClass == nullptr || index < 0 || index >= rxClass->mProtocolSlots.logicalLength())
        return nullptr;
    return rxClass->mProtocolSlots[index];
}

bool setProtocolSlot(OxRxImpClass* rxClass, int index, OxRxObject* value) noexcept
{
    OxArray<OxRxObject*>& slots = rxClass->mProtocolSlots;
    if (index >= slots.logicalLength()) {
        if (value == nullptr)
            return true; // a slot beyond the array already reads null
        const int oldLength = slots.logicalLength();
        if (!slots.setLogicalLength(index + 1))
            return false;
        for (int i = oldLength; i <= index; ++i)
            slots[i] = nullptr;
    }
    slots[index] = value;
    return true;
}

void propagateProtocolSlot(OxRxClass* root, int index, OxRxObject* value, OxRxObject* previous) noexcept
{
    OxRxImpClass* record = root != nullptr ? root->imp() : nullptr;
    if (record == nullptr)
        return; // a child without record is skipped, never dereferenced
    OxRxObject* current = protocolSlot(record, index);
    if (current == nullptr || current == previous)
        setProtocolSlot(record, index, value);
    // The descent goes on below a class that kept its own value: its descendants may still
    // hold the previous value or nothing.
    forEachChild(record, [&](OxRxClass* child) { propagateProtocolSlot(child, index, value, previous); });
}

namespace {

// Calls `visit` with the record of every registered class that has one, in registration order.
template <class Visit>
void forEachRecord(Visit&& visit) noexcept
{
    OxRxDictionary* classes = gRegistry.classDictionary;
    if (classes == nullptr)
        return;
    OxRxDictionaryIterator* it = classes->makeIterator(OxRx::kIterateById);
    for (; it != nullptr && !it->done(); it->next())
        if (auto* rxClass = static_cast<OxRxClass*>(it->object());
            rxClass != nullptr && rxClass->imp() != nullptr)
            visit(rxClass->imp());
    delete it;
}

} // namespace

void forgetExtension(int index, const OxRxObject* extension) noexcept
{
    if (extension == nullptr)
        return;
    forEachRecord([&](OxRxImpClass* record) {
        if (protocolSlot(record, index) != extension)
            return;
        // The walk meets classes in registration order, so an ancestor may still hold the
        // extension: the value is taken from the nearest ancestor that does not.
        OxRxObject* value = nullptr;
        for (OxRxClass* above = record->mpParent; above != nullptr && above->imp() != nullptr;
             above = above->imp()->mpParent) {
            value = protocolSlot(above->imp(), index);
            if (value != extension)
                break;
            value = nullptr;
        }
        setProtocolSlot(record, index, value);
    });
}

// Every slot at the index is cleared, not only those holding the protocol class itself: the
// next protocol class to get the index must start with no extension anywhere, never with the
// objects attached under a protocol that no longer exists.
void releaseProtocolIndex(OxRxImpClass* protocolClass) noexcept
{
    const int index = protocolClass->mProtocolIndex;
    forEachRecord([index](OxRxImpClass* record) { setProtocolSlot(record, index, nullptr); });
    OxArray<OxRxClass*>* table = gRegistry.protocolClasses;
    if (table != nullptr && index < table->logicalLength() && (*table)[index] == protocolClass->mpOwner)
        (*table)[index] = nullptr;
    protocolClass->mProtocolIndex = -1;
}

void reportMissingExtension(const OxRxClass* protocolClass)
{
    oxrx_abort(u"Protocol Extension '%s' not found.", protocolClass != nullptr ? protocolClass->name() : u"");
}

namespace {

// The protocol index of `protocolClass`, given out on first use: the lowest free table entry,
// else a new one at the end. -1 when the type system is not running or memory ran out.
int protocolIndexOf(OxRxClass* protocolClass)
{
    OxRxImpClass* record = protocolClass->imp();
    if (record == nullptr)
        return -1;
    if (record->mProtocolIndex >= 0)
        return record->mProtocolIndex;
    OxArray<OxRxClass*>* table = gRegistry.protocolClasses;
    if (table == nullptr)
        return -1;
    int index = table->find(nullptr);
    if (index < 0) {
        index = table->append(protocolClass);
        if (index < 0)
            return -1;
    } else {
        (*table)[index] = protocolClass;
    }
    record->mProtocolIndex = index;
    return index;
}

} // namespace
} // namespace oxrx

OxRxObject* OxRxClass::addX(OxRxClass* protocolClass, OxRxObject* extension)
{
    if (protocolClass == nullptr || mpImp == nullptr)
        return nullptr;
    const int index = oxrx::protocolIndexOf(protocolClass);
    if (index < 0)
        return nullptr;
    OxRxObject* value = extension;
    if (value == nullptr)
        value = mpImp->mpParent != nullptr ? oxrx::protocolSlot(mpImp->mpParent->imp(), index) : nullptr;
    OxRxObject* previous = oxrx::protocolSlot(mpImp, index);
    oxrx::propagateProtocolSlot(this, index, value, previous);
    return previous;
}

OxRxObject* OxRxClass::delX(OxRxClass* protocolClass)
{
    return addX(protocolClass, nullptr);
}

OxRxObject* OxRxClass::queryX(const OxRxClass* protocolClass) const
{
    if (protocolClass == nullptr || protocolClass->imp() == nullptr)
        return nullptr;
    return oxrx::protocolSlot(mpImp, protocolClass->imp()->mProtocolIndex);
}

OxRxObject* OxRxClass::getX(const OxRxClass* protocolClass) const
{
    OxRxObject* extension = queryX(protocolClass);
    if (extension == nullptr)
        oxrx::reportMissingExtension(protocolClass);
    return extension;
}

constinit bool OxRxObject::gQueryXOverruled = false;

// While overrules exist but not for the object's class, the query costs one more call of isA()
// than the object's own answer. The default answer sits in this file so that the class's lookup
// is inlined into it.
OxRxObject* OxRxObject::queryXSlow(const OxRxClass* protocolClass) const
{
    const OxRxClass* family = OxRxQueryXOverrule::desc();
    if (family == nullptr || family->imp() == nullptr || family->imp()->mProtocolIndex < 0)
        return subQueryX(protocolClass);
    const OxRxClass* rxClass = isA();
    if (rxClass == nullptr || oxrx::protocolSlot(rxClass->imp(), family->imp()->mProtocolIndex) == nullptr)
        return subQueryX(protocolClass);
    return oxrx::dispatchQueryX(this, family, protocolClass);
}

OxRxObject* OxRxObject::subQueryX(const OxRxClass* protocolClass) const
{
    const OxRxClass* rxClass = isA();
    return rxClass != nullptr ? rxClass->queryX(protocolClass) : nullptr;
}
