// rx/RxObject.cpp
// The root class: the default answers of every object (identity equality, no ordering, clone
// through the class's pseudo-constructor and copyFrom) and the class-membership test.

#include <oxfirst/OxRxObject.h>

#include <oxfirst/OxRxCallbacks.h>
#include <oxfirst/OxRxClass.h>

#include "rx/ImpClass.h"

constinit OxRxClass* OxRxObject::gpDesc = nullptr;

void OxRxObject::rxInit()
{
    oxrxRegisterClass(&OxRxObject::gpDesc, u"OxRxObject", u"", nullptr);
}

OxRxObject::~OxRxObject() = default;

OxRxClass* OxRxObject::isA() const
{
    return OxRxObject::desc();
}

OxRxObject* OxRxObject::clone() const
{
    const OxRxClass* rxClass = isA();
    OxRxObject* copy = rxClass != nullptr ? rxClass->create() : nullptr;
    if (copy == nullptr)
        return nullptr;
    if (copy->copyFrom(this) != Orka::eOk) {
        delete copy;
        return nullptr;
    }
    return copy;
}

Orka::ErrorStatus OxRxObject::copyFrom(const OxRxObject*)
{
    const OxRxClass* rxClass = isA();
    oxrx_abort(u"Unimplemented %s::copyFrom() function invoked.\n",
               rxClass != nullptr ? rxClass->name() : u"");
    return Orka::eNotImplementedYet;
}

int OxRxObject::isEqualTo(const OxRxObject* other) const
{
    return other == this;
}

OxRx::Ordering OxRxObject::comparedTo(const OxRxObject*) const
{
    return OxRx::kOrderNone;
}

OxRxObject* OxRxObject::x(const OxRxClass* protocolClass) const
{
    const OxRxClass* rxClass = isA();
    if (rxClass == nullptr) {
        oxrx::reportMissingExtension(protocolClass);
        return nullptr;
    }
    return rxClass->getX(protocolClass);
}

// The parent walk of OxRxClass::isDerivedFrom, repeated here so that a cast makes one call
// into the library rather than two.
bool oxrxIsKindOfSlow(const OxRxClass* objectClass, const OxRxClass* rxClass) noexcept
{
    for (const OxRxClass* current = objectClass; current != nullptr;) {
        if (current == rxClass)
            return true;
        const OxRxImpClass* record = current->imp();
        current = record != nullptr ? record->mpParent : nullptr;
    }
    return false;
}
