// platform/Exceptions.cpp
// Structured exceptions become C++ exceptions of the exported type OxStructuredException, so
// a host catches them like any other; uncaught, they end the process as an unhandled
// exception does.

#include "platform/win.h"

#include <cstdio>

OxStructuredException::OxStructuredException(std::uint32_t code, std::uint32_t flags,
                                             std::uint32_t argumentCount,
                                             const std::uintptr_t* arguments) noexcept
    : mCode(code), mFlags(flags), mArgumentCount(0), mArguments{}, mText{}
{
    if (arguments != nullptr) {
        mArgumentCount = argumentCount < kMaximumArguments ? argumentCount : kMaximumArguments;
        for (std::uint32_t i = 0; i < mArgumentCount; ++i)
            mArguments[i] = arguments[i];
    }
    std::snprintf(mText, sizeof mText, "structured exception 0x%08X", static_cast<unsigned>(code));
}

OxStructuredException::~OxStructuredException() = default;

const char* OxStructuredException::what() const noexcept
{
    return mText;
}

namespace win {

void RaiseException(DWORD code, DWORD flags, DWORD argumentCount, const ULONG_PTR* arguments)
{
    throw OxStructuredException(code, flags, argumentCount, arguments);
}

} // namespace win
