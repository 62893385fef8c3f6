// reflection/members/SubProperty.cpp
// The promoted children of a property. No member stands in for a value type's property under
// another property yet, so every promoted name gives no child.

#include "reflection/members/PropertyImp.h"

namespace oxreflect {

OxRxPropertyBase* makePromotedProperty(const OxRxPropertyBase*, const OXCHAR*, const OXCHAR*)
{
    return nullptr;
}

} // namespace oxreflect
