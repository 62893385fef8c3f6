// tests/platform/StringResourcesTest.cpp
// LoadStringW over the registered string tables.

#include "platform/PlatformTest.h"

using namespace win;

static int gModuleToken = 0;
const auto kModule = reinterpret_cast<HINSTANCE>(&gModuleToken);

// A copy running past the capacity or left unterminated, a count that includes the terminator, the
// earlier entry of a repeated id winning; capacity 0 not handing out a read-only pointer to the
// resource through the buffer argument; a failure without its own error (no table for the module,
// id not in it, null buffer, negative capacity) or leaving the buffer unterminated; an empty string
// loading as something; registering again merging into the old table, an empty registration leaving
// it behind, a registration for no module taking effect.
TEST(StringResources, CopiesWhatFitsFailsWithItsErrorAndFollowsRegistration)
{
    const STRING_RESOURCE table[] = {
        {1, u"Hello"}, {2, u""}, {3, u"first"}, {3, u"second"}, {0xFFFFFFFF, u"top"}};
    RegisterStringTable(kModule, table, std::size(table));
    WCHAR buffer[8];
    EXPECT_TRUE(LoadStringW(kModule, 1, buffer, 8) == 5 && std::u16string(u"Hello") == buffer);
    EXPECT_TRUE(LoadStringW(kModule, 1, buffer, 4) == 3 && std::u16string(u"Hel") == buffer);
    EXPECT_TRUE(LoadStringW(kModule, 3, buffer, 8) == 6 && std::u16string(u"second") == buffer);
    EXPECT_TRUE(LoadStringW(kModule, 0xFFFFFFFF, buffer, 8) == 3 && LoadStringW(kModule, 2, buffer, 8) == 0);
    const WCHAR* resource = nullptr;
    EXPECT_EQ(5, LoadStringW(kModule, 1, reinterpret_cast<LPWSTR>(&resource), 0));
    EXPECT_EQ(u"Hello", std::u16string_view(resource, 5));
    const std::tuple<HINSTANCE, UINT, LPWSTR, int, DWORD> failures[] = {
        {kModule, 1, buffer, 1, ERROR_SUCCESS},
        {reinterpret_cast<HINSTANCE>(buffer), 1, buffer, 8, ERROR_RESOURCE_DATA_NOT_FOUND},
        {kModule, 99, buffer, 8, ERROR_RESOURCE_NAME_NOT_FOUND},
        {kModule, 1, nullptr, 8, ERROR_INVALID_PARAMETER},
        {kModule, 1, buffer, -1, ERROR_INVALID_PARAMETER}};
    for (const auto& [module, id, out, capacity, error] : failures) {
        buffer[0] = u'?';
        SetLastError(0);
        EXPECT_TRUE(LoadStringW(module, id, out, capacity) == 0 && GetLastError() == error &&
                    buffer[0] == (capacity < 0 || out == nullptr ? u'?' : 0))
            << id << ' ' << capacity;
    }
    const STRING_RESOURCE replacement[] = {{4, u"new"}};
    RegisterStringTable(kModule, replacement, 1);
    RegisterStringTable(nullptr, table, 1);
    EXPECT_TRUE(LoadStringW(kModule, 1, buffer, 8) == 0 && LoadStringW(kModule, 4, buffer, 8) == 3 &&
                LoadStringW(nullptr, 1, buffer, 8) == 0);
    RegisterStringTable(kModule, nullptr, 0);
    EXPECT_TRUE(LoadStringW(kModule, 4, buffer, 8) == 0 && GetLastError() == ERROR_RESOURCE_DATA_NOT_FOUND);
}
