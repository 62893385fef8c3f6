// reflection/ReflectionClasses.h
// The reflection layer's part of the type system's start and end.
#pragma once

#include <oxfirst/OxRxClass.h>

class OxRxMemberCollection;
class OxRxAttributeCollection;
class OxRxMemberCollectionBuilder;

namespace oxreflect {

// What the class records below this layer borrow from it (the type system's start hands them
// over): a class's member collection, built by its member builder, and its attributes.

/// Runs `builder` for `rxClass`: a new collection of the members it added, each now owned by
/// the class, or null when it added none. When the builder throws, what it added is deleted and
/// the exception passes on.
OxRxMemberCollection* buildMemberCollection(OxRxClass* rxClass, OxRxClass::MemberBuilder builder,
                                            void* builderData);
/// Deletes every member of `members` (deleteMember, in order), then the collection.
void deleteMemberCollection(OxRxMemberCollection* members);
/// A new empty attribute collection; throws std::bad_alloc when memory ran out.
OxRxAttributeCollection* newAttributeCollection();
/// Deletes the collection and the attributes it holds.
void deleteAttributeCollection(OxRxAttributeCollection* attributes);

/// The root class's member builder: adds the properties every object has.
void buildObjectMembers(OxRxMemberCollectionBuilder& builder, void* data);

/// Registers "OxRxValueType" and links it at once, then registers the other classes of the
/// reflection layer, unlinked until the host builds the class hierarchy; makes the member query
/// engine with the boxed-value facet provider; registers the attribute classes.
void registerClasses();

/// Deletes the member query engine; nothing when there is none.
void endReflection();

/// The order in which the type system's end deletes a class: 0 for classes that are not value
/// types, whose records may hold values of any type; 1 for the value types of modules, which may
/// hold values of built-in types (an enumeration's tags); 2 for the built-in value types, which
/// hold none. Values held by a module's value type of another module's type are not ordered.
int teardownRank(const OxRxClass* rxClass);

} // namespace oxreflect
