// reflection/values/BoxedValue.cpp
// Boxes: a value wrapped in an object. A stack box points at a value that lives elsewhere, a
// heap box owns its copy; both answer the class "OxRxBoxedValueOnStack".

#include <oxfirst/OxRxValue.h>

OX_RX_DEFINE_MEMBERS(OxRxBoxedValueOnStack, u"OxRxBoxedValueOnStack", u"OxRxBoxedValue", nullptr)

OxRxBoxedValue* OxRxBoxedValue::newBoxedValueOnHeap(const OxRxValue& value)
{
    return new OxRxBoxedValueOnHeap(value);
}

OxRxObject* OxRxBoxedValue::clone() const
{
    const OxRxValue* own = value();
    return own != nullptr ? newBoxedValueOnHeap(*own) : nullptr;
}

Orka::ErrorStatus OxRxBoxedValue::copyFrom(const OxRxObject* other)
{
    const OxRxBoxedValue* source = OxRxBoxedValue::cast(other);
    if (source == nullptr)
        return Orka::eWrongObjectType;
    OxRxValue* target = value();
    const OxRxValue* from = source->value();
    if (target == nullptr || from == nullptr)
        return target == from ? Orka::eOk : Orka::eInvalidInput;
    *target = *from;
    return Orka::eOk;
}

int OxRxBoxedValue::isEqualTo(const OxRxObject* other) const
{
    const OxRxBoxedValue* that = OxRxBoxedValue::cast(other);
    return that != nullptr && that->value() == value() ? 1 : 0;
}

OxRx::Ordering OxRxBoxedValue::comparedTo(const OxRxObject*) const
{
    return OxRx::kOrderNone;
}

OxRxObject* OxRxBoxedValue::rxObject()
{
    OxRxValue* own = value();
    if (own == nullptr)
        return this;
    const OxRxValueType& type = own->type();
    if (type.myParent() != nullptr && type.myParent() != OxRxValueType::desc())
        return static_cast<OxRxObject*>(own->data());
    if (const IOxRxObjectValue* objectValue = type.rxObjectValue())
        return const_cast<OxRxObject*>(objectValue->getRxObject(*own));
    return this;
}

OxRxBoxedValueOnHeap::OxRxBoxedValueOnHeap(const OxRxValue& value)
    : OxRxBoxedValueOnStack(*new OxRxValue(value))
{
}

OxRxBoxedValueOnHeap::~OxRxBoxedValueOnHeap()
{
    delete mpValue;
}
