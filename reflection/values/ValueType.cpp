// reflection/values/ValueType.cpp
// The value type's class-system side: its constructors, which register and link each type as
// it is made, the checks in front of the text form, and the class "OxRxValueType" itself.

#include <oxfirst/OxRxValue.h>

OX_RX_DEFINE_MEMBERS(OxRxValueType, u"OxRxValueType", u"OxRxClass", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxBoxedValue, u"OxRxBoxedValue", u"OxRxObject", nullptr)

namespace {

constexpr const OXCHAR* kValueTypeClass = u"OxRxValueType";

} // namespace

OxRxValueType::OxRxValueType(const OXCHAR* name, unsigned int size, MemberBuilder builder, void* builderData)
    : OxRxClass(name, kValueTypeClass, builder, builderData), mSize(size)
{
}

OxRxValueType::OxRxValueType(const OXCHAR* name, const IOxRxReferenceType& referenceType, unsigned int size,
                             MemberBuilder builder, void* builderData)
    : OxRxClass(name, kValueTypeClass, builder, builderData), mpReferenceType(&referenceType), mSize(size)
{
}

OxRxValueType::OxRxValueType(const OXCHAR* name, const IOxRxNonBlittableType& nonBlittable, unsigned int size,
                             MemberBuilder builder, void* builderData)
    : OxRxClass(name, kValueTypeClass, builder, builderData), mpNonBlittable(&nonBlittable), mSize(size)
{
}

OxRxValueType::OxRxValueType(const OXCHAR* name, const IOxRxEnumeration& enumeration, unsigned int size,
                             MemberBuilder builder, void* builderData)
    : OxRxClass(name, kValueTypeClass, builder, builderData), mpEnumeration(&enumeration), mSize(size)
{
}

OxRxValueType::OxRxValueType(const OXCHAR* name, const IOxRxEnumeration& enumeration,
                             const IOxRxNonBlittableType& nonBlittable, unsigned int size,
                             MemberBuilder builder, void* builderData)
    : OxRxClass(name, kValueTypeClass, builder, builderData), mpNonBlittable(&nonBlittable),
      mpEnumeration(&enumeration), mSize(size)
{
}

OxRxValueType::OxRxValueType(const OXCHAR* name, const IOxRxEnumeration* enumeration,
                             const IOxRxNonBlittableType* nonBlittable, unsigned int size,
                             MemberBuilder builder, void* builderData)
    : OxRxClass(name, kValueTypeClass, builder, builderData), mpNonBlittable(nonBlittable),
      mpEnumeration(enumeration), mSize(size)
{
}

OxRxValueType::OxRxValueType(const OXCHAR* name, const IOxRxObjectValue& objectValue,
                             const IOxRxNonBlittableType& nonBlittable, unsigned int size,
                             MemberBuilder builder, void* builderData)
    : OxRxClass(name, kValueTypeClass, builder, builderData), mpNonBlittable(&nonBlittable),
      mpObjectValue(&objectValue), mSize(size)
{
}

OxRxValueType::OxRxValueType(const OXCHAR* name, const OXCHAR* parentName,
                             const IOxRxNonBlittableType& nonBlittable, unsigned int size,
                             MemberBuilder builder, void* builderData)
    : OxRxClass(name, parentName, builder, builderData), mpNonBlittable(&nonBlittable), mSize(size)
{
}

OxRxValueType::~OxRxValueType() = default;

int OxRxValueType::toString(const void* instance, OXCHAR* buffer, std::size_t size, StringFormat format) const
{
    if (instance == nullptr || (buffer == nullptr) != (size == 0))
        return -1;
    return subToString(instance, buffer, size, format);
}
