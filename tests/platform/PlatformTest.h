// tests/platform/PlatformTest.h
// What the platform tests share: the OS layer and its test controls, GoogleTest, the failed-call error.
#pragma once

#include "platform/TestControls.h"
#include "platform/win.h"
#include "support/FreshProcess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace oxtest {

/// The last error a call left when `succeeded` (its answer, or a test of it) is false; 0 when it is
/// true. Clears the last error, so what one call left never counts for the next.
inline win::DWORD errorOf(auto succeeded)
{
    const win::DWORD error = succeeded ? 0 : win::GetLastError();
    win::SetLastError(0);
    return error;
}

using Errors = std::vector<win::DWORD>; // the errors of several calls, for ::testing::Each(error)

} // namespace oxtest
