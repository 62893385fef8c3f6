// reflection/ReflectionClasses.cpp
// The classes the reflection layer registers when the type system starts, in their order.

#include "reflection/ReflectionClasses.h"

#include "reflection/values/BuiltInValueTypes.h"

#include <oxfirst/OxRxValue.h>

namespace oxreflect {

void registerClasses()
{
    // Value types link to "OxRxValueType" as they are made, so it is linked before any exists.
    OxRxValueType::rxInit();
    oxrxBuildClassHierarchy();
    OxRxBoxedValue::rxInit();
}

int teardownRank(const OxRxClass* rxClass)
{
    if (OxRxValueType::cast(rxClass) == nullptr)
        return 0;
    return isBuiltInValueType(rxClass) ? 2 : 1;
}

} // namespace oxreflect
