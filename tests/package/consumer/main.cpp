// An outside project: includes the umbrella header, links the installed libraries and calls
// into them.
#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/oxfirst.h>

#include <cstdio>

int main()
{
    oxInstallHostDefaults();
    void* heap = oxHeapCreate(0);
    void* block = oxHeapAlloc(heap, 64);
    std::uint32_t count = 0, bytes = 0, overhead = 0;
    const bool walked = oxHeapWalk(heap, count, bytes, overhead);
    oxHeapFree(heap, block);
    oxHeapDestroy(heap);
    OXCHAR* copy = __oxStrdup(u"text");
    __oxFree(copy);
    if (!walked || count != 1 || bytes != 64)
        return 1;
    std::puts("consumer ok");
    return 0;
}
