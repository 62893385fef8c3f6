// reflection/values/BuiltInValueTypes.cpp
// The sixteen built-in value types: their text forms, their equality, and the lazy singletons
// behind Desc<T>::value(). Every text form is one conversion of the platform's wide print, so
// all types print exactly as that formatter does.

#include <oxfirst/OxRxCallbacks.h>
#include <oxfirst/OxRxValue.h>

#include "reflection/values/BuiltInValueTypes.h"

#include "platform/win.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The conversions of the text forms. Integers narrower than 32 bits are widened to int first
// (sign-extended or zero-extended as their type is), so an unsigned int of 2^31 and more prints
// negative; Mira::Int64 prints as lower-case hexadecimal without prefix.
constexpr OXCHAR kDecimal[] = u"%d";
constexpr OXCHAR kUnit[] = u"%c";
constexpr OXCHAR kFixed[] = u"%f";
constexpr OXCHAR kHex64[] = u"%Ix";
constexpr OXCHAR kText[] = u"%s";
constexpr OXCHAR kNarrowText[] = u"%hs"; // UTF-8; each ill-formed sequence prints as U+FFFD

// Without a buffer: the units the text needs. With one: the units written, or -1 (and the empty
// text) when the text and its terminator do not fit.
template <class Argument>
int print(OXCHAR* buffer, std::size_t size, const OXCHAR* format, Argument argument)
{
    return buffer == nullptr ? win::_scwprintf(format, argument)
                             : win::swprintf_s(buffer, size, format, argument);
}

// Instances are read by copy: a caller's pointer need not be aligned for the type.
template <class T>
T load(const void* instance)
{
    T value;
    std::memcpy(&value, instance, sizeof value);
    return value;
}

template <class T>
bool sameBytes(const void* first, const void* second)
{
    return std::memcmp(first, second, sizeof(T)) == 0;
}

// Equal, or so close that their sum is over 2e10 times their difference: about one part in
// 1e10 of their magnitude. +0 equals -0; NaN equals nothing; an infinity only itself.
bool sameDouble(double a, double b)
{
    if (a == b)
        return true;
    return std::fabs((a + b) / (a - b)) > 2e10;
}

// Text pointers compare by contents. A null pointer equals only another null pointer.
template <class Unit>
bool sameText(const Unit* first, const Unit* second)
{
    if (first == nullptr || second == nullptr)
        return first == second;
    while (*first != 0 && *first == *second) {
        ++first;
        ++second;
    }
    return *first == *second;
}

void noMembers(OxRxMemberCollectionBuilder&, void*) {}

// The registered singleton of each built-in type, cleared by the class registry when the type
// system deletes the type; and the one made while no type system ran, which is never
// registered, never deleted and answered until a type system runs.
template <class Type>
constinit OxRxClass* gRegistered = nullptr;
template <class Type>
constinit OxRxValueType* gUnregistered = nullptr;

template <class Type>
[[gnu::noinline]] const OxRxValueType& makeBuiltIn(const OXCHAR* name)
{
    if (oxrxSysRegistry() == nullptr && gUnregistered<Type> != nullptr)
        return *gUnregistered<Type>;
    auto* type = new (std::nothrow) Type(name, noMembers, nullptr);
    if (type == nullptr) {
        oxrx_abort(u"Out of memory for the value type '%s'.", name);
        std::abort();
    }
    if (type->imp() == nullptr) {
        if (oxrxSysRegistry() == nullptr) {
            gUnregistered<Type> = type;
            return *type;
        }
        delete type; // the registry had no memory for its record
        oxrx_abort(u"Out of memory for the value type '%s'.", name);
        std::abort();
    }
    // The lookup notes the singleton's address in the type's record, whose destructor clears it.
    oxrxFindClassByName(&gRegistered<Type>, name);
    return *type;
}

template <class Type>
const OxRxValueType& builtIn(const OXCHAR* name)
{
    if (OxRxClass* type = gRegistered<Type>) [[likely]]
        return *static_cast<const OxRxValueType*>(type);
    return makeBuiltIn<Type>(name);
}

} // namespace

#define OX_RX_DEFINE_POD_TYPE(TYPE, NAME, TEXT, EQUAL)                                                       \
    template <>                                                                                              \
    int OxRxValueTypePOD<TYPE>::subToString(const void* instance, OXCHAR* buffer, std::size_t size,          \
                                            StringFormat) const                                              \
    {                                                                                                        \
        [[maybe_unused]] const auto value = load<TYPE>(instance);                                            \
        return TEXT;                                                                                         \
    }                                                                                                        \
    template <>                                                                                              \
    bool OxRxValueTypePOD<TYPE>::subEqualTo(const void* first, const void* second) const                     \
    {                                                                                                        \
        return EQUAL;                                                                                        \
    }                                                                                                        \
    const OxRxValueType& OxRxValueType::Desc<TYPE>::value()                                                  \
    {                                                                                                        \
        return builtIn<OxRxValueTypePOD<TYPE>>(NAME);                                                        \
    }

OX_RX_DEFINE_POD_TYPE(OXCHAR, u"OXCHAR", print(buffer, size, kUnit, static_cast<int>(value)),
                      sameBytes<OXCHAR>(first, second))
OX_RX_DEFINE_POD_TYPE(unsigned char, u"unsigned char", print(buffer, size, kDecimal, static_cast<int>(value)),
                      sameBytes<unsigned char>(first, second))
OX_RX_DEFINE_POD_TYPE(bool, u"bool", print(buffer, size, kDecimal, static_cast<int>(value)),
                      sameBytes<bool>(first, second))
OX_RX_DEFINE_POD_TYPE(char, u"char",
                      print(buffer, size, kDecimal, static_cast<int>(static_cast<signed char>(value))),
                      sameBytes<char>(first, second))
OX_RX_DEFINE_POD_TYPE(short, u"short", print(buffer, size, kDecimal, static_cast<int>(value)),
                      sameBytes<short>(first, second))
OX_RX_DEFINE_POD_TYPE(unsigned short, u"unsigned short",
                      print(buffer, size, kDecimal, static_cast<int>(value)),
                      sameBytes<unsigned short>(first, second))
OX_RX_DEFINE_POD_TYPE(int, u"int", print(buffer, size, kDecimal, value), sameBytes<int>(first, second))
OX_RX_DEFINE_POD_TYPE(unsigned int, u"unsigned int", print(buffer, size, kDecimal, static_cast<int>(value)),
                      sameBytes<unsigned int>(first, second))
OX_RX_DEFINE_POD_TYPE(Mira::Int64, u"Mira::Int64",
                      print(buffer, size, kHex64, static_cast<std::uint64_t>(value)),
                      sameBytes<Mira::Int64>(first, second))
OX_RX_DEFINE_POD_TYPE(float, u"float", print(buffer, size, kFixed, static_cast<double>(value)),
                      sameDouble(load<float>(first), load<float>(second)))
OX_RX_DEFINE_POD_TYPE(double, u"double", print(buffer, size, kFixed, value),
                      sameDouble(load<double>(first), load<double>(second)))
OX_RX_DEFINE_POD_TYPE(OxRxClass*, u"OxRxClass*",
                      print(buffer, size, kText, value != nullptr ? value->name() : nullptr),
                      sameBytes<OxRxClass*>(first, second))
OX_RX_DEFINE_POD_TYPE(const OXCHAR*, u"const OXCHAR*", print(buffer, size, kText, value),
                      sameText(load<const OXCHAR*>(first), load<const OXCHAR*>(second)))
OX_RX_DEFINE_POD_TYPE(const char*, u"const char*", print(buffer, size, kNarrowText, value),
                      sameText(load<const char*>(first), load<const char*>(second)))
#undef OX_RX_DEFINE_POD_TYPE

// void has no text form; its equality reads the first four bytes, which is what tells the empty
// value (0) from the varies value (1).
template <>
int OxRxValueTypePOD<void>::subToString(const void*, OXCHAR*, std::size_t, StringFormat) const
{
    return -1;
}
template <>
bool OxRxValueTypePOD<void>::subEqualTo(const void* first, const void* second) const
{
    return load<std::int32_t>(first) == load<std::int32_t>(second);
}
const OxRxValueType& OxRxValueType::Desc<void>::value()
{
    return builtIn<OxRxValueTypePOD<void>>(u"void");
}

template <>
int OxRxNonBlittableType<OxString>::subToString(const void* instance, OXCHAR* buffer, std::size_t size,
                                                StringFormat) const
{
    return print(buffer, size, kText, static_cast<const OxString*>(instance)->kwszPtr());
}
template <>
bool OxRxNonBlittableType<OxString>::subEqualTo(const void* first, const void* second) const
{
    return static_cast<const OxString*>(first)->compare(*static_cast<const OxString*>(second)) == 0;
}
const OxRxValueType& OxRxValueType::Desc<OxString>::value()
{
    return builtIn<OxRxNonBlittableType<OxString>>(u"OxString");
}

bool oxreflect::isBuiltInValueType(const OxRxClass* rxClass) noexcept
{
    OxRxClass* const* const singletons[] = {
        &gRegistered<OxRxValueTypePOD<OXCHAR>>,        &gRegistered<OxRxValueTypePOD<unsigned char>>,
        &gRegistered<OxRxValueTypePOD<bool>>,          &gRegistered<OxRxValueTypePOD<char>>,
        &gRegistered<OxRxValueTypePOD<short>>,         &gRegistered<OxRxValueTypePOD<unsigned short>>,
        &gRegistered<OxRxValueTypePOD<int>>,           &gRegistered<OxRxValueTypePOD<unsigned int>>,
        &gRegistered<OxRxValueTypePOD<Mira::Int64>>,   &gRegistered<OxRxValueTypePOD<float>>,
        &gRegistered<OxRxValueTypePOD<double>>,        &gRegistered<OxRxValueTypePOD<OxRxClass*>>,
        &gRegistered<OxRxValueTypePOD<const OXCHAR*>>, &gRegistered<OxRxValueTypePOD<const char*>>,
        &gRegistered<OxRxValueTypePOD<void>>,          &gRegistered<OxRxNonBlittableType<OxString>>,
    };
    for (OxRxClass* const* singleton : singletons)
        if (rxClass != nullptr && *singleton == rxClass)
            return true;
    return false;
}
