// examples/oxdemo/StringTour.cpp
// OxString as a host sees it: where texts are kept, how forms are produced on demand, UTF-8,
// number parsing and resource strings.

#include "Tours.h"

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/oxfirst.h>

#include <cstdio>
#include <cstring>

namespace {

const char* kindName(OxString::Kind kind)
{
    static const char* const kNames[] = {"empty",       "inline narrow", "inline wide",
                                         "heap narrow", "heap wide",     "narrow + wide"};
    return kind <= OxString::kHeapDual ? kNames[kind] : "?";
}

void showKind(const char* step, const OxString& s)
{
    const OxString::Kind kind = s.kind(); // before utf8Ptr, which may produce and cache a form
    std::printf("  %-34s kind %d (%s), \"%s\"\n", step, kind, kindName(kind), s.utf8Ptr());
}

// The module handle this host gives its own string table.
int gResourceModuleToken = 0;
win::HINSTANCE resourceModule()
{
    return reinterpret_cast<win::HINSTANCE>(&gResourceModuleToken);
}

} // namespace

void showStrings()
{
    std::printf("Strings:\n");
    OxString name("layer", false);
    showKind("OxString(\"layer\", false)", name);
    name.append(" of the drawing");
    showKind("append(\" of the drawing\")", name);
    std::printf("  %-34s %d units\n", "length() produces the wide form", name.length());
    showKind("  ...and caches it", name);
    OxString wide(u"abc");
    showKind("OxString(u\"abc\")", wide);
    wide.append(u"defgh");
    showKind("append(u\"defgh\")", wide);

    const char* utf8 = "Gr\xC3\xBC\xC3\x9F"
                       "e \xE2\x82\xAC\xF0\x9F\x99\x82";
    OxString decoded(utf8, true);
    const bool same = std::strcmp(decoded.utf8Ptr(), utf8) == 0;
    std::printf("  UTF-8 %zu bytes -> %d UTF-16 units -> back to UTF-8: %s\n", std::strlen(utf8),
                decoded.length(), same ? "the same bytes" : "different bytes");

    OxString number(u"12x");
    std::printf("  \"12x\".asDeci: options 0 -> %d, kOnErrorReturnMinusOne -> %d, ", number.asDeci(0),
                number.asDeci(OxString::kOnErrorReturnMinusOne));
    try {
        number.asDeci(OxString::kOnErrorThrow);
    } catch (const char* message) {
        std::printf("kOnErrorThrow -> throws \"%s\"\n", message);
    }

    const OxHostStringResource strings[] = {{101, u"Welcome to the string tour"}, {102, u"Drawing %s saved"}};
    oxHostRegisterStringTable(resourceModule(), strings, 2);
    OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(resourceModule);
    OxString welcome(OxString::kFormatResourceString, 101);
    OxString saved;
    saved.loadString(102);
    OxString message;
    message.format(saved.kwszPtr(), u"plan.oxd");
    std::printf("  resource 101: \"%s\"; resource 102 formatted: \"%s\"\n", welcome.utf8Ptr(),
                message.utf8Ptr());
}
