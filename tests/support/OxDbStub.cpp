// tests/support/OxDbStub.cpp
// A stand-in for the database module (liboxdb20.so): its resource handle names the module that
// holds the start-up message texts, whose string table the test registers.

static int gResourceModule;

extern "C" void* oxdbResourceHandle()
{
    return &gResourceModule;
}
