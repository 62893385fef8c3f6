// reflection/attributes/NameLists.h
// Names of a group of members (the tags of an enumeration, the sub-properties of a property)
// written as ";"-separated lists in the localized-name attributes of what holds them.
#pragma once

#include <oxfirst/OxRxAttribute.h>

namespace oxreflect {

/// Segment `index` of the lists held by the attributes of exactly `listClass` in `attributes`,
/// each loaded for `loadFor`, in collection order. The segments are numbered on across the lists;
/// an empty segment is a name missing from its list, so the next list is asked for the same
/// number. Empty when no list names it.
OxString segmentOf(const OxRxAttributeCollection& attributes, const OxRxObject* loadFor,
                   const OxRxClass* listClass, int index);

} // namespace oxreflect
