// reflection/ReflectionClasses.h
// The reflection layer's part of the type system's start.
#pragma once

#include <oxfirst/OxRxClass.h>

namespace oxreflect {

/// Registers "OxRxValueType" and links it at once, then registers the other classes of the
/// reflection layer, unlinked until the host builds the class hierarchy.
void registerClasses();

/// The order in which the type system's end deletes a class: 0 for classes that are not value
/// types, whose records may hold values of any type; 1 for the value types of modules, which may
/// hold values of built-in types (an enumeration's tags); 2 for the built-in value types, which
/// hold none. Values held by a module's value type of another module's type are not ordered.
int teardownRank(const OxRxClass* rxClass);

} // namespace oxreflect
