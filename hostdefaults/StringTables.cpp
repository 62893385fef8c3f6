// hostdefaults/StringTables.cpp
// The host's way to give its modules string tables: a forwarder to the platform layer's registry,
// so hosts need no platform header.

#include <oxfirst/OxHostDefaults.h>

#include "platform/TestControls.h"

#include <vector>

void oxHostRegisterStringTable(win::HINSTANCE module, const OxHostStringResource* strings, std::size_t count)
{
    std::vector<win::test::StringResource> table;
    for (std::size_t i = 0; strings != nullptr && i < count; ++i)
        table.push_back({strings[i].id, strings[i].text});
    win::test::registerStringTable(module, table.data(), table.size());
}
