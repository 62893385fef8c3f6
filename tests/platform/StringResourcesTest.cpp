// tests/platform/StringResourcesTest.cpp
// LoadStringW over the registered string tables: what fits is copied and terminated, capacity 0
// hands out a pointer, the errors of a missing module, id or buffer, and tables replaced or
// removed.

#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>

using namespace win;

namespace {

int gModuleToken = 0;
const auto kModule = reinterpret_cast<HINSTANCE>(&gModuleToken);

class StringResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        const STRING_RESOURCE table[] = {
            {1, u"Hello"}, {2, u""}, {3, u"first"}, {3, u"second"}, {0xFFFFFFFF, u"top"}};
        RegisterStringTable(kModule, table, std::size(table));
    }
    void TearDown() override { RegisterStringTable(kModule, nullptr, 0); }
};

} // namespace

// A copy running past the capacity or left unterminated, a count that includes the terminator,
// the earlier entry of a repeated id winning; capacity 0 must hand out a read-only pointer to the
// resource through the buffer argument instead of copying.
TEST_F(StringResources, CopiesWhatFitsAndTerminatesOrHandsOutAPointer)
{
    WCHAR buffer[8];
    EXPECT_EQ(5, LoadStringW(kModule, 1, buffer, 8));
    EXPECT_EQ(std::u16string(u"Hello"), buffer);
    EXPECT_EQ(3, LoadStringW(kModule, 1, buffer, 4));
    EXPECT_EQ(std::u16string(u"Hel"), buffer);
    buffer[0] = u'?';
    EXPECT_TRUE(LoadStringW(kModule, 1, buffer, 1) == 0 && buffer[0] == 0);
    EXPECT_EQ(6, LoadStringW(kModule, 3, buffer, 8));
    EXPECT_EQ(std::u16string(u"second"), buffer);
    EXPECT_EQ(3, LoadStringW(kModule, 0xFFFFFFFF, buffer, 8));
    const WCHAR* resource = nullptr;
    EXPECT_EQ(5, LoadStringW(kModule, 1, reinterpret_cast<LPWSTR>(&resource), 0));
    ASSERT_NE(nullptr, resource);
    EXPECT_EQ(std::u16string(u"Hello"), std::u16string(resource, 5));
}

// Each failure with its own error: a module without a table, an id not in it, a null buffer or
// negative capacity; an empty string loads as nothing.
TEST_F(StringResources, MissingModuleIdOrBufferFail)
{
    WCHAR buffer[8] = {u'?'};
    SetLastError(0);
    EXPECT_TRUE(LoadStringW(reinterpret_cast<HINSTANCE>(buffer), 1, buffer, 8) == 0 && buffer[0] == 0);
    EXPECT_EQ(ERROR_RESOURCE_DATA_NOT_FOUND, GetLastError());
    EXPECT_EQ(0, LoadStringW(kModule, 99, buffer, 8));
    EXPECT_EQ(ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
    EXPECT_EQ(0, LoadStringW(kModule, 1, nullptr, 8));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_EQ(0, LoadStringW(kModule, 1, buffer, -1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_EQ(0, LoadStringW(kModule, 2, buffer, 8)); // an empty string loads as nothing
}

// Registering again merging into the old table instead of replacing it; an empty registration
// leaving the table behind; a registration for no module taking effect.
TEST_F(StringResources, TablesAreReplacedAndRemoved)
{
    const STRING_RESOURCE replacement[] = {{4, u"new"}};
    RegisterStringTable(kModule, replacement, 1);
    WCHAR buffer[8];
    EXPECT_EQ(0, LoadStringW(kModule, 1, buffer, 8));
    EXPECT_EQ(3, LoadStringW(kModule, 4, buffer, 8));
    RegisterStringTable(kModule, nullptr, 0);
    EXPECT_EQ(0, LoadStringW(kModule, 4, buffer, 8));
    EXPECT_EQ(ERROR_RESOURCE_DATA_NOT_FOUND, GetLastError());
    RegisterStringTable(nullptr, replacement, 1); // ignored
}
