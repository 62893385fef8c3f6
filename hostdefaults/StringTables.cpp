// hostdefaults/StringTables.cpp
// The host's way to give its modules string tables: a forwarder to the platform layer's registry,
// so hosts need no platform header.

#include <oxfirst/OxHostDefaults.h>

#include "platform/win.h"

#include <vector>

void oxHostRegisterStringTable(win::HINSTANCE module, const OxHostStringResource* strings, std::size_t count)
{
    std::vector<win::STRING_RESOURCE> table;
    for (std::size_t i = 0; strings != nullptr && i < count; ++i)
        table.push_back({strings[i].id, strings[i].text});
    win::RegisterStringTable(module, table.data(), table.size());
}
