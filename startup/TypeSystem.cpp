// startup/TypeSystem.cpp
// The start and end of the type system, in their fixed orders: the class system's own classes
// first, linked; then the reflection layer's classes on top of them. At the end, classes go in
// an order that deletes every holder of values before the types of those values.

#include <oxfirst/OxRxClass.h>

#include "reflection/ReflectionClasses.h"
#include "rx/RegistryState.h"

void oxrxInitTypeSystem()
{
    if (!oxrx::startClassSystem())
        return;
    oxreflect::registerClasses();
    oxrx::announceClasses();
}

void oxrxTerminateTypeSystem()
{
    if (oxrx::endClassSystem(oxreflect::teardownRank))
        OxRxObject::gQueryXOverruled = false; // every overrule list went with the classes
}
