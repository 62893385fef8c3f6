// tests/strings/StringTestSupport.h
// What the string tests share: a fixture that installs liboxhost's formatter and ANSI converters
// (and removes them again, so every test starts without callbacks), and a few readers.
#pragma once

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxString.h>

#include <gtest/gtest.h>

#include <string>

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

/// A narrow-only string (kind 1 or 3) holding `bytes`.
inline OxString narrowString(const char* bytes)
{
    return OxString(bytes, false);
}

/// A string holding both forms (kind 5), made from ANSI bytes; needs the ANSI converter.
inline OxString dualString(const char* bytes)
{
    OxString s(bytes, false);
    s.kwszPtr();
    return s;
}

} // namespace oxtest
