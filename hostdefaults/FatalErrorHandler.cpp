// hostdefaults/FatalErrorHandler.cpp
// The console host's fatal-error policy: the message goes to standard error as UTF-8 and the
// process aborts. The platform's UTF-8 codec converts it in stack-sized pieces; the codec takes
// no lock and never allocates, so the handler works however short of memory the process is.

#include <oxfirst/OxHostDefaults.h>

#include "platform/win.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

void oxHostFatalError(const OXCHAR* message)
{
    constexpr std::size_t kPieceUnits = 128;
    char bytes[kPieceUnits * 3]; // a unit gives at most 3 bytes, a surrogate pair 4 for its two
    const std::size_t length = message != nullptr ? std::char_traits<OXCHAR>::length(message) : 0;
    for (std::size_t done = 0; done < length;) {
        std::size_t units = std::min(kPieceUnits, length - done);
        // A pair split between two pieces would come out as two U+FFFD.
        const OXCHAR last = message[done + units - 1];
        if (units < length - done && last >= 0xD800 && last <= 0xDBFF)
            --units;
        const int written = win::WideCharToMultiByte(win::CP_UTF8, 0, message + done, static_cast<int>(units),
                                                     bytes, sizeof bytes, nullptr, nullptr);
        // Nothing can be done about a failed write on the way to abort; the bytes are dropped.
        if (written > 0)
            std::fwrite(bytes, 1, static_cast<std::size_t>(written), stderr);
        done += units;
    }
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}
