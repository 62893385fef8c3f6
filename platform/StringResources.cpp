// platform/StringResources.cpp
// Module string tables and LoadStringW. On Windows the strings live in each module's resource
// section; here a host registers each module's table. The registry is built on the first
// registration and kept for the life of the process, so the pointers LoadStringW hands out for
// capacity 0 stay valid while their table does.

#include "platform/win.h"

#include <cstring>
#include <map>
#include <string>
#include <unordered_map>

namespace win {
namespace {

using StringTable = std::unordered_map<UINT, std::u16string>;
using Registry = std::map<HINSTANCE, StringTable>;

// Guards gpRegistry and every table in it. A zero-filled critical section is a valid one.
constinit CRITICAL_SECTION gRegistryLock{};
constinit Registry* gpRegistry = nullptr;

} // namespace

void RegisterStringTable(HINSTANCE module, const STRING_RESOURCE* strings, SIZE_T count)
{
    if (module == nullptr)
        return;
    // The new table is built outside the lock, so lookups wait only for the swap.
    StringTable table;
    for (SIZE_T i = 0; strings != nullptr && i < count; ++i)
        table[strings[i].id] = strings[i].text != nullptr ? strings[i].text : u"";

    CriticalSectionGuard guard(gRegistryLock);
    if (gpRegistry == nullptr)
        gpRegistry = new Registry;
    if (table.empty())
        gpRegistry->erase(module);
    else
        (*gpRegistry)[module] = std::move(table);
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax)
{
    if (buffer == nullptr || bufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (bufferMax > 0)
        buffer[0] = 0;

    CriticalSectionGuard guard(gRegistryLock);
    Registry::const_iterator tableEntry;
    if (gpRegistry == nullptr || (tableEntry = gpRegistry->find(module)) == gpRegistry->end()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    const auto stringEntry = tableEntry->second.find(id);
    if (stringEntry == tableEntry->second.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const std::u16string& text = stringEntry->second;
    if (bufferMax == 0) {
        const WCHAR* resource = text.c_str();
        std::memcpy(buffer, &resource, sizeof resource);
        return static_cast<int>(text.size());
    }
    const std::size_t copied = std::min(text.size(), static_cast<std::size_t>(bufferMax) - 1);
    std::memcpy(buffer, text.data(), copied * sizeof(WCHAR));
    buffer[copied] = 0;
    return static_cast<int>(copied);
}

} // namespace win
