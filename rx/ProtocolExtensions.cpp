// rx/ProtocolExtensions.cpp
// Protocol extensions: every class keeps, per protocol index, the extension in effect for it,
// so a lookup is one array read. addX and delX pay instead, copying a change down the whole
// subtree of the class at once.

#include <oxfirst/OxRxClass.h>

#include <oxfirst/OxRxCallbacks.h>
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
    if (record->mpChildren == nullptr)
        return;
    OxRxIterator* it = record->mpChildren->makeIterator();
    for (; it != nullptr && !it->done(); it->next())
        propagateProtocolSlot(static_cast<OxRxClass*>(it->object()), index, value, previous);
    delete it;
}

void releaseProtocolIndex(OxRxImpClass* protocolClass) noexcept
{
    const int index = protocolClass->mProtocolIndex;
    OxRxDictionary* classes = gRegistry.classDictionary;
    if (classes != nullptr) {
        OxRxDictionaryIterator* it = classes->makeIterator(OxRx::kIterateById);
        for (; it != nullptr && !it->done(); it->next()) {
            auto* rxClass = static_cast<OxRxClass*>(it->object());
            OxRxImpClass* record = rxClass != nullptr ? rxClass->imp() : nullptr;
            if (record == nullptr || protocolSlot(record, index) != protocolClass->mpOwner)
                continue;
            OxRxClass* parent = record->mpParent;
            setProtocolSlot(record, index, parent != nullptr ? protocolSlot(parent->imp(), index) : nullptr);
        }
        delete it;
    }
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
