// platform/LastError.cpp
// The calling thread's last error, as every failing function of the layer leaves it.

#include "platform/win.h"

namespace win {
namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
} // namespace

DWORD GetLastError()
{
    return tLastError;
}

void SetLastError(DWORD error)
{
    tLastError = error;
}

} // namespace win
