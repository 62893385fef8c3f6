// startup/TypeSystem.cpp
// The start and end of the type system, in their fixed orders: the class system's own classes
// first, linked; then the reflection layer's classes on top of them and the member query
// engine. At the end, the engine goes first; then classes go in an order that deletes every
// holder of values before the types of those values.

#include <oxfirst/OxRxClass.h>

#include "reflection/ReflectionClasses.h"
#include "rx/ImpClass.h"
#include "rx/RegistryState.h"

namespace {

// The class records build members and attributes through the reflection layer; they need the
// hooks from the first class on, and a class's attributes may be asked for before any start.
// The hooks never change, so they are installed once, while the library loads, before any
// module can start the type system.
[[maybe_unused]] const bool gHooksInstalledAtLoad =
    (oxrx::gReflectionHooks = {oxreflect::buildMemberCollection, oxreflect::deleteMemberCollection,
                               oxreflect::newAttributeCollection, oxreflect::deleteAttributeCollection,
                               oxreflect::buildObjectMembers},
     true);

} // namespace

void oxrxInitTypeSystem()
{
    if (!oxrx::startClassSystem())
        return;
    oxreflect::registerClasses();
    oxrx::announceClasses();
}

void oxrxTerminateTypeSystem()
{
    oxreflect::endReflection();
    if (oxrx::endClassSystem(oxreflect::teardownRank))
        OxRxObject::gQueryXOverruled = false; // every overrule list went with the classes
}
