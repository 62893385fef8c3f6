// reflection/members/ObjectProperties.cpp
// The properties every object has, which the root class's member builder adds in the order
// LocalizedName, IsA, ClassName.

#include <oxfirst/OxRxProperty.h>

#include "reflection/ReflectionClasses.h"

OX_RX_DEFINE_MEMBERS(OxRxPropagatePropertyChange, u"OxRxPropagatePropertyChange", u"OxRxObject", nullptr)

#define OX_RX_OBJECT_PROPERTY(NAME, TEXT, TYPE, READ)                                                        \
    NAME##Base::NAME##Base() : OxRxProperty(TEXT, OxRxValueType::Desc<TYPE>::value(), nullptr) {}            \
    NAME##Base::~NAME##Base() = default;                                                                     \
    Orka::ErrorStatus NAME##Base::subGetValue(const OxRxObject* object, OxRxValue& value) const              \
    {                                                                                                        \
        if (object == nullptr)                                                                               \
            return Orka::eInvalidInput;                                                                      \
        value.set(READ);                                                                                     \
        return Orka::eOk;                                                                                    \
    }                                                                                                        \
    Orka::ErrorStatus NAME##Base::subSetValue(OxRxObject*, const OxRxValue&) const                           \
    {                                                                                                        \
        return Orka::eNotImplementedYet;                                                                     \
    }
OX_RX_OBJECT_PROPERTY(OxRxObjectLocalizedNameProperty, u"LocalizedName", OxString,
                      OxRxLocalizedNameAttribute::getLocalizedName(object->isA()))
OX_RX_OBJECT_PROPERTY(OxRxObjectIsAProperty, u"IsA", OxRxClass*, object->isA())
OX_RX_OBJECT_PROPERTY(OxRxObjectClassNameProperty, u"ClassName", OxString, OxString())
#undef OX_RX_OBJECT_PROPERTY

namespace oxreflect {

void buildObjectMembers(OxRxMemberCollectionBuilder& builder, void*)
{
    builder.add(new OxRxObjectLocalizedNameProperty());
    builder.add(new OxRxObjectIsAProperty());
    builder.add(new OxRxObjectClassNameProperty());
}

} // namespace oxreflect
