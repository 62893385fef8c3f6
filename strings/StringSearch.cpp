// strings/StringSearch.cpp
// Searching and sub-strings. Searches are exact and case-sensitive and run over the wide form,
// except that two narrow-only strings search each other byte by byte. Positions are int, as the
// interface has them; a text longer than INT_MAX units is searched only within that range.

#include "strings/StringInternal.h"

#include "platform/win.h"

#include <algorithm>
#include <climits>
#include <string_view>

using oxstr::byteLength;
using oxstr::unitLength;

namespace {

using WideView = std::basic_string_view<OXCHAR>;

int position(std::size_t found)
{
    return found == std::string_view::npos || found > INT_MAX ? -1 : static_cast<int>(found);
}

// First occurrence of the non-empty `pattern` in `text`. The text is walked once, never measured
// first: each start whose first unit matches compares the rest, stopping at either terminator.
int findFirst(const OXCHAR* text, const OXCHAR* pattern)
{
    const OXCHAR first = pattern[0];
    for (const OXCHAR* start = text; *start != 0; ++start) {
        if (*start != first)
            continue;
        std::size_t i = 1;
        while (pattern[i] != 0 && start[i] == pattern[i])
            ++i;
        if (pattern[i] == 0)
            return position(static_cast<std::size_t>(start - text));
        if (start[i] == 0)
            return -1; // the text ended inside the pattern: no later start can fit it
    }
    return -1;
}

} // namespace

int OxString::find(const OXCHAR* pattern) const
{
    if (pattern == nullptr || *pattern == 0)
        return length();
    if (isEmpty())
        return -1;
    return findFirst(kwszPtr(), pattern);
}

int OxString::find(const OxString& pattern) const
{
    if (OxStringImp::isNarrowOnly(*this) && OxStringImp::isNarrowOnly(pattern))
        return position(
            std::string_view(OxStringImp::heldNarrow(*this)).find(OxStringImp::heldNarrow(pattern)));
    return find(pattern.kwszPtr());
}

int OxString::findRev(const OXCHAR* pattern) const
{
    if (pattern == nullptr || *pattern == 0)
        return length();
    if (isEmpty())
        return -1;
    return position(WideView(kwszPtr()).rfind(pattern));
}

int OxString::findRev(const OxString& pattern) const
{
    if (OxStringImp::isNarrowOnly(*this) && OxStringImp::isNarrowOnly(pattern))
        return position(
            std::string_view(OxStringImp::heldNarrow(*this)).rfind(OxStringImp::heldNarrow(pattern)));
    return findRev(pattern.kwszPtr());
}

int OxString::findOneOf(const OXCHAR* set) const
{
    if (set == nullptr || *set == 0 || isEmpty())
        return -1;
    return position(WideView(kwszPtr()).find_first_of(set));
}

int OxString::findOneOfRev(const OXCHAR* set) const
{
    if (set == nullptr || *set == 0 || isEmpty())
        return -1;
    return position(WideView(kwszPtr()).find_last_of(set));
}

OxString OxString::substr(int start, int count) const
{
    OxString result;
    if (isEmpty())
        return result;
    const std::size_t first = start > 0 ? static_cast<std::size_t>(start) : 0;
    const std::size_t most = count >= 0 ? static_cast<std::size_t>(count) : SIZE_MAX;

    if (OxStringImp::isNarrowOnly(*this)) {
        // Bytes: the skip stops at the terminator, and at a lead byte whose trail byte is the
        // terminator, so it never steps past the end of the text.
        const char* text = OxStringImp::heldNarrow(*this);
        for (std::size_t skipped = 0; skipped < first && *text != '\0'; ++skipped) {
            if (win::IsDBCSLeadByte(static_cast<unsigned char>(*text)) && text[1] == '\0')
                break;
            ++text;
        }
        OxStringImp::storeNarrow(result, text, strnlen(text, most));
        return result;
    }

    const OXCHAR* text = kwszPtr();
    const std::size_t total = unitLength(text);
    if (first >= total)
        return result;
    OxStringImp::storeWide(result, text + first, std::min(total - first, most));
    return result;
}

OxString OxString::substrRev(int count) const
{
    const long long from = static_cast<long long>(length()) - count;
    return substr(static_cast<int>(std::clamp<long long>(from, 0, INT_MAX)), count);
}
