// platform/Environment.cpp
// The process environment read in Windows' wide-character form. Names and values are UTF-16 here
// and UTF-8 in the environment; text that is not valid UTF-8 reads with U+FFFD in its place.

#include "platform/Utf16.h"
#include "platform/win.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace win {
namespace {

// Environment names are short; a longer one cannot name a variable anyone set.
constexpr std::size_t kNameCapacity = 512;

// The UTF-8 form of `name` in `buffer`; false for null, empty or too long names.
bool narrowName(const WCHAR* name, char (&buffer)[kNameCapacity])
{
    if (name == nullptr || name[0] == 0)
        return false;
    return detail::utf16ToUtf8(name, buffer, kNameCapacity) < kNameCapacity;
}

// The value of a variable, null when it is not set.
const char* lookUp(const WCHAR* name)
{
    char narrow[kNameCapacity];
    if (!narrowName(name, narrow))
        return nullptr;
    return std::getenv(narrow);
}

} // namespace

errno_t _wgetenv_s(SIZE_T* required, WCHAR* buffer, SIZE_T count, const WCHAR* name)
{
    if (required == nullptr || name == nullptr || (buffer == nullptr && count > 0))
        return EINVAL;
    *required = 0;
    if (count > 0)
        buffer[0] = 0;
    const char* value = lookUp(name);
    if (value == nullptr)
        return 0;
    *required = detail::utf8ToUtf16(value, nullptr, 0) + 1;
    if (count < *required)
        return ERANGE;
    detail::utf8ToUtf16(value, buffer, count);
    return 0;
}

} // namespace win

namespace win {

errno_t _wdupenv_s(WCHAR** buffer, SIZE_T* count, const WCHAR* name)
{
    if (buffer == nullptr || name == nullptr)
        return EINVAL;
    *buffer = nullptr;
    if (count != nullptr)
        *count = 0;
    const char* value = lookUp(name);
    if (value == nullptr)
        return 0;
    const std::size_t units = detail::utf8ToUtf16(value, nullptr, 0) + 1;
    auto* copy = static_cast<WCHAR*>(std::malloc(units * sizeof(WCHAR)));
    if (copy == nullptr)
        return ENOMEM;
    detail::utf8ToUtf16(value, copy, units);
    *buffer = copy;
    if (count != nullptr)
        *count = units;
    return 0;
}

int _wputenv(const WCHAR* assignment)
{
    const std::size_t length = detail::utf16ToUtf8(assignment, nullptr, 0);
    char* narrow = static_cast<char*>(std::malloc(length + 1));
    if (narrow == nullptr)
        return -1;
    detail::utf16ToUtf8(assignment, narrow, length + 1);
    char* equals = std::strchr(narrow, '=');
    int result = -1;
    if (equals != nullptr && equals != narrow) {
        *equals = 0;
        result = equals[1] == 0 ? ::unsetenv(narrow) : ::setenv(narrow, equals + 1, 1);
    }
    std::free(narrow);
    return result == 0 ? 0 : -1;
}

} // namespace win
