// oxfirst/OxTypes.h
// Types shared by every family of the interface: the character type, the error status, the
// ordering of comparisons, and the exception that stands for a raised structured exception.
#pragma once

#include <oxfirst/OxFirstExport.h>

#include <cstddef>
#include <cstdint>
#include <exception>

/// One UTF-16 code unit. Wide text is a NUL-terminated array of OXCHAR; a null text pointer
/// counts as the empty text wherever text is accepted.
using OXCHAR = char16_t;

namespace Mira {
using Int64 = std::int64_t;
} // namespace Mira

namespace Orka {
/// Result of every operation that can fail. The numeric values are part of the interface.
enum ErrorStatus : std::int32_t {
    eOk = 0,
    eNotApplicable = 1,
    eNotImplementedYet = 2,
    eInvalidInput = 3,
    eNullArgument = 15,
    eNotFound = 22,
    eDuplicateKey = 23,
    eWrongObjectType = 46,
};
} // namespace Orka

namespace OxRx {
/// Result of comparedTo().
enum Ordering : std::int32_t {
    kOrderLess = -1,
    kOrderEqual = 0,
    kOrderGreater = 1,
    kOrderNone = 2,
};
} // namespace OxRx

namespace win {
/// A module handle. Opaque to the library's users; the platform layer gives it meaning.
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
} // namespace win

/// A structured exception raised by the library (the fatal report 0xBAD0F0E1 when no
/// fatal-error callback is installed, a heap created to generate exceptions running out).
/// A host that catches it handles the condition; uncaught, it ends the process.
class OXFIRST_API OxStructuredException : public std::exception {
public:
    static constexpr std::uint32_t kMaximumArguments = 15;

    OxStructuredException(std::uint32_t code, std::uint32_t flags, std::uint32_t argumentCount,
                          const std::uintptr_t* arguments) noexcept;
    ~OxStructuredException() override;

    std::uint32_t code() const noexcept { return mCode; }
    std::uint32_t flags() const noexcept { return mFlags; }
    /// At most kMaximumArguments; a longer argument list is cut.
    std::uint32_t argumentCount() const noexcept { return mArgumentCount; }
    /// The argument at `index`, 0 when `index` is out of range.
    std::uintptr_t argument(std::uint32_t index) const noexcept
    {
        return index < mArgumentCount ? mArguments[index] : 0;
    }
    /// "structured exception 0x%08X".
    const char* what() const noexcept override;

private:
    std::uint32_t mCode;
    std::uint32_t mFlags;
    std::uint32_t mArgumentCount;
    std::uintptr_t mArguments[kMaximumArguments];
    char mText[32];
};
