// examples/oxdemo/ValueTour.cpp
// Typed values as a host meets them: values of several built-in types with their text forms, a
// value too large to be held inline that lives in a stack-heap block, an assignment that changes
// a value's type, and the two shared void values.

#include "Tours.h"

#include <oxfirst/oxfirst.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A host's own 40-byte record, described by a value type of its own.
struct Extents {
    double minX, minY, maxX, maxY, elevation;
};

std::string narrow(const OXCHAR* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

// The value's text form, or a note when its type has none.
std::string textOf(const OxRxValue& value)
{
    const int length = value.toString(nullptr, 0);
    if (length < 0)
        return "(no text form)";
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    value.toString(text.data(), text.size());
    return narrow(text.c_str());
}

void show(const char* label, const OxRxValue& value)
{
    std::printf("    %-28s %-14s %s\n", label, narrow(value.type().name()).c_str(), textOf(value).c_str());
}

} // namespace

template <>
int OxRxValueTypePOD<Extents>::subToString(const void* instance, OXCHAR* buffer, std::size_t size,
                                           StringFormat) const
{
    Extents e;
    std::memcpy(&e, instance, sizeof e);
    char text[128];
    const int length = std::snprintf(text, sizeof text, "(%g,%g)-(%g,%g) at %g", e.minX, e.minY, e.maxX,
                                     e.maxY, e.elevation);
    if (buffer == nullptr)
        return length;
    if (static_cast<std::size_t>(length) >= size) {
        buffer[0] = 0;
        return -1;
    }
    for (int i = 0; i <= length; ++i)
        buffer[i] = static_cast<unsigned char>(text[i]);
    return length;
}

template <>
bool OxRxValueTypePOD<Extents>::subEqualTo(const void* first, const void* second) const
{
    return std::memcmp(first, second, sizeof(Extents)) == 0;
}

template <>
struct OxRxValueType::Desc<Extents> {
    static const OxRxValueType& value()
    {
        static OxRxClass* gpType = nullptr; // cleared by the class registry when the type goes
        if (gpType == nullptr) {
            new OxRxValueTypePOD<Extents>(u"Extents");
            oxrxFindClassByName(&gpType, u"Extents");
        }
        return *static_cast<const OxRxValueType*>(gpType);
    }
};

namespace {

// The tour proper: every value it makes is gone before the type system ends, since a value
// holds its type and the end deletes the types.
void showValues()
{
    show("an int", OxRxValue(42));
    show("an unsigned int of 2^32 - 1", OxRxValue(4294967295u));
    show("a 64-bit integer", OxRxValue(Mira::Int64(48879)));
    show("a double", OxRxValue(2.5));
    show("a bool", OxRxValue(true));
    show("a character", OxRxValue(u'A'));
    show("a string", OxRxValue(OxString(u"wall")));
    show("a class", OxRxValue(OxRxValueType::desc()));

    OxRxValue extents(Extents{0, 0, 12.5, 8, 3});
    show("a 40-byte record", extents);
    const auto* self = reinterpret_cast<const char*>(&extents);
    const auto* data = static_cast<const char*>(extents.data());
    std::printf("      held %s (the value is %zu bytes, the record %u)\n",
                data >= self && data < self + sizeof extents ? "inline" : "in a stack-heap block",
                sizeof(OxRxValue), extents.type().size());

    OxRxValue changing(7);
    show("before the assignment", changing);
    changing = OxRxValue(OxString(u"seven"));
    show("after it", changing);

    show("the empty value", OxRxValue::empty());
    std::printf("      a new value equals empty(): %s; empty() equals varies(): %s\n",
                OxRxValue() == OxRxValue::empty() ? "yes" : "no",
                OxRxValue::empty() == OxRxValue::varies() ? "yes" : "no");
}

} // namespace

void valueTour()
{
    std::printf("Typed values\n");
    oxrxInitTypeSystem();
    oxrxBuildClassHierarchy();
    showValues();
    oxrxTerminateTypeSystem();
}
