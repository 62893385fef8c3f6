// tests/strings/StringTestSupport.h
// What the string tests share: a fixture that installs liboxhost's formatter and ANSI converters
// (and removes them again, so every test starts without callbacks), and a few readers.
#pragma once

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxString.h>

#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>

namespace oxtest {

/// Installs the host's converters and formatter for the test; the callback store is empty after.
class WithHostConverters : public ::testing::Test {
protected:
    void SetUp() override { install(true); }
    void TearDown() override { install(false); }
    static void install(bool on)
    {
        OxRxTypeSysCallbacks::setCallback_fmtout(on ? oxHostFormat : nullptr);
        OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(on ? oxHostMultiByteToWideChar : nullptr);
        OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(on ? oxHostWideCharToMultiByte : nullptr);
        OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(nullptr);
    }
};

/// A converter to wide text that counts its calls in gConversions and forwards to the host's.
inline int gConversions = 0;
inline int countingToWide(unsigned page, int flags, const char* source, int length, OXCHAR* out, int capacity)
{
    ++gConversions;
    return oxHostMultiByteToWideChar(page, flags, source, length, out, capacity);
}

/// The wide form (which a narrow-only string produces and caches).
inline std::u16string wideText(const OxString& s)
{
    return s.kwszPtr();
}

/// Whether `s` has the kind and then reads back the text (as the wide form, read after the kind).
inline ::testing::AssertionResult holds(const OxString& s, int kind, const std::u16string& text)
{
    const int actual = s.kind();
    if (actual == kind && wideText(s) == text)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "kind " << actual << ", text " << ::testing::PrintToString(wideText(s));
}

/// A string holding both forms (kind 5), made from ANSI bytes; needs the ANSI converter.
inline OxString dualString(const char* bytes)
{
    OxString s(bytes, false);
    s.kwszPtr();
    return s;
}

} // namespace oxtest
