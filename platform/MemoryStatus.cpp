// platform/MemoryStatus.cpp
// GlobalMemoryStatus from sysinfo(2). The virtual figures describe the 47-bit user address
// space: total is its size, available what the process has not mapped (from /proc/self/statm's
// mapped size, so reservations count as used, as they do on Windows).

#include "platform/win.h"

#include <cstdio>
#include <sys/sysinfo.h>

namespace win {
namespace {

constexpr SIZE_T kUserSpaceBytes = SIZE_T{1} << 47;

SIZE_T mappedBytes()
{
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr)
        return 0;
    unsigned long pages = 0;
    const int read = std::fscanf(file, "%lu", &pages);
    std::fclose(file);
    return read == 1 ? pages * kPageSize : 0;
}

} // namespace

void GlobalMemoryStatus(MEMORYSTATUS* status)
{
    if (status == nullptr)
        return;
    *status = MEMORYSTATUS{};
    status->dwLength = sizeof(MEMORYSTATUS);
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        const SIZE_T unit = info.mem_unit != 0 ? info.mem_unit : 1;
        status->dwTotalPhys = info.totalram * unit;
        status->dwAvailPhys = (info.freeram + info.bufferram) * unit;
        status->dwTotalPageFile = (info.totalram + info.totalswap) * unit;
        status->dwAvailPageFile = (info.freeram + info.bufferram + info.freeswap) * unit;
        if (status->dwTotalPhys != 0)
            status->dwMemoryLoad =
                static_cast<DWORD>(100 - (status->dwAvailPhys * 100) / status->dwTotalPhys);
    }
    status->dwTotalVirtual = kUserSpaceBytes;
    const SIZE_T mapped = mappedBytes();
    status->dwAvailVirtual = mapped < kUserSpaceBytes ? kUserSpaceBytes - mapped : 0;
}

} // namespace win
