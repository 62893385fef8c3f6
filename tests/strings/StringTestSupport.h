// tests/strings/StringTestSupport.h
// What the string tests share: fixtures that install liboxhost's formatter and ANSI converters
// (and remove them again, so every test starts without callbacks), and a few readers.
#pragma once

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxString.h>

#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace oxtest {

/// Installs the host's converters and formatter for the test; the callback store is empty
/// again afterwards.
class WithHostConverters : public ::testing::Test {
protected:
    void SetUp() override
    {
        OxRxTypeSysCallbacks::setCallback_fmtout(oxHostFormat);
        OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(oxHostMultiByteToWideChar);
        OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(oxHostWideCharToMultiByte);
    }
    void TearDown() override
    {
        OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
        OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(nullptr);
        OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(nullptr);
        OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(nullptr);
    }
};

/// A converter to wide text that counts its calls in gConversions and forwards to the host's.
inline int gConversions = 0;
inline int countingToWide(unsigned int page, int flags, const char* source, int length, OXCHAR* out,
                          int capacity)
{
    ++gConversions;
    return oxHostMultiByteToWideChar(page, flags, source, length, out, capacity);
}

/// The wide form (which a narrow-only string produces and caches).
inline std::u16string wideText(const OxString& s)
{
    return s.kwszPtr();
}

/// The narrow form a string holds, without producing one: only for kinds 0, 1, 3 and 5.
inline std::string narrowText(const OxString& s)
{
    return s.ansiPtr();
}

/// Whether `s` has the kind and then reads back the text (narrow text as held, wide as produced).
template <typename Text>
::testing::AssertionResult holds(const OxString& s, int kind, const Text& text)
{
    const int actual = s.kind();
    Text read;
    if constexpr (std::is_same_v<Text, std::string>)
        read = narrowText(s);
    else
        read = wideText(s);
    if (actual == kind && read == text)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "kind " << actual << ", text " << ::testing::PrintToString(read);
}

/// A string holding both forms (kind 5), made from ANSI bytes; needs the ANSI converter.
inline OxString dualString(const char* bytes)
{
    OxString s(bytes, false);
    s.kwszPtr();
    return s;
}

} // namespace oxtest
