// reflection/ReflectionClasses.cpp
// The classes the reflection layer registers when the type system starts, in their order, and
// the member query engine, made once they exist.

#include "reflection/ReflectionClasses.h"

#include "reflection/members/QueryEngineImp.h"
#include "reflection/values/BuiltInValueTypes.h"

#include <oxfirst/OxRxProperty.h>
#include <oxfirst/OxRxValue.h>

namespace oxreflect {

void registerClasses()
{
    // Value types link to "OxRxValueType" as they are made, so it is linked before any exists.
    OxRxValueType::rxInit();
    oxrxBuildClassHierarchy();
    OxRxBoxedValue::rxInit();
    OxRxBoxedValueOnStack::rxInit();
    OxRxMember::rxInit();
    OxRxMethod::rxInit();
    OxRxPropertyBase::rxInit();
    OxRxProperty::rxInit();
    OxRxSubProperty::rxInit();
    OxRxCollectionProperty::rxInit();
    OxRxIndexedProperty::rxInit();
    OxRxDictionaryProperty::rxInit();
    OxRxAttribute::rxInit();
    OxRxFacetProvider::rxInit();
    registerBoxedValueFacetProvider();
    OxRxMemberQueryContext::rxInit();
    OxRxMemberOverrule::rxInit();
    OxRxPropertyOverrule::rxInit();
    OxRxCollectionPropertyOverrule::rxInit();
    OxRxStatefulProperty::rxInit();
    OxRxPropagatePropertyChange::rxInit();
    OxRxResourceLoader::rxInit();
    OxRxEnumTag::rxInit();

    startMemberQueryEngine();

    OxRxLocalizedNameAttribute::rxInit();
    OxRxAlternateLocalizedNameAttribute::rxInit();
    OxRxUiPlacementAttribute::rxInit();
    OxRxDescriptionAttribute::rxInit();
    OxRxRefersToAttribute::rxInit();
    OxRxDisplayAsAttribute::rxInit();
    OxRxCOMAttribute::rxInit();
    OxRxFlagsAttribute::rxInit();
    OxRxFilePathAttribute::rxInit();
    OxRxUnitTypeAttribute::rxInit();
    OxRxGenerateDynamicPropertiesAttribute::rxInit();
    OxRxUseDialogForReferredCollectionAttribute::rxInit();
    OxRxDefaultValueAttribute::rxInit();
    OxRxCumulativeAttribute::rxInit();
    OxRxAffinityAttribute::rxInit();
    OxRxCategory::rxInit();
}

void endReflection()
{
    endMemberQueryEngine();
}

int teardownRank(const OxRxClass* rxClass)
{
    if (OxRxValueType::cast(rxClass) == nullptr)
        return 0;
    return isBuiltInValueType(rxClass) ? 2 : 1;
}

} // namespace oxreflect
