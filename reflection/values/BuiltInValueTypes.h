// reflection/values/BuiltInValueTypes.h
// What the rest of the reflection layer asks of the built-in value types.
#pragma once

#include <oxfirst/OxRxClass.h>

namespace oxreflect {

/// Whether `rxClass` is the registered singleton of one of the sixteen built-in value types.
bool isBuiltInValueType(const OxRxClass* rxClass) noexcept;

} // namespace oxreflect
