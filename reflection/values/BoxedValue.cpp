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

namespace {

// What `value` stands for, `box` when nothing else: the data of a value whose type derives from
// another class than "OxRxValueType" is itself an object of that class.
const OxRxObject* objectOf(const OxRxValue* value, const OxRxBoxedValue* box)
{
    if (value == nullptr)
        return box;
    const OxRxValueType& type = value->type();
    if (type.myParent() != nullptr && type.myParent() != OxRxValueType::desc())
        return static_cast<const OxRxObject*>(value->data());
    if (const IOxRxObjectValue* objectValue = type.rxObjectValue())
        return objectValue->getRxObject(*value);
    return box;
}

} // namespace

OxRxObject* OxRxBoxedValue::rxObject()
{
    return const_cast<OxRxObject*>(objectOf(value(), this));
}

const OxRxObject* OxRxBoxedValue::rxObject() const
{
    return objectOf(value(), this);
}

OxRxBoxedValueOnHeap::OxRxBoxedValueOnHeap(const OxRxValue& value)
    : OxRxBoxedValueOnStack(*new OxRxValue(value))
{
}

OxRxBoxedValueOnHeap::~OxRxBoxedValueOnHeap()
{
    delete mpValue;
}
