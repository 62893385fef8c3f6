// examples/oxdemo/HostCore.cpp
// The demo's host core module (libOxCore.so). Like a real host's core module it names the
// product and the program; the demo links it, so it is loaded before the library, which then
// takes the names from it and counts the demo among the program's running instances.

extern "C" __attribute__((visibility("default"))) const char16_t* thisProduct()
{
    return u"OxFirst Demo";
}

extern "C" __attribute__((visibility("default"))) const char16_t* thisProgram()
{
    return u"oxdemo";
}
