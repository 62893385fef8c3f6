// startup/Session.cpp
// The session record: one small shared mapping per program, named after the program, in which
// each running instance holds one bit. The record lives while some instance holds it open, so
// an instance that claimed a slot keeps its mapping handle until detach. A named semaphore
// guards the record; a process that cannot get it within 250 ms goes on without it, so a
// crashed holder never blocks a start for long.

#include <oxfirst/OxStartup.h>

#include "diagnostics/BoundedText.h"
#include "startup/Startup.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace oxstartup {
namespace {

constexpr int kNoSession = 33;
constexpr win::DWORD kLockWaitMs = 250;
constexpr win::UINT kAllSlotsTakenText = 15939;
constexpr std::uint32_t kAllSlotsTaken = 0xFFFFFFFF;

// The record's layout, shared with every instance of the program.
struct SessionRecord {
    std::uint32_t slotMask; // bit i set: slot i + 1 is taken
    std::uint32_t version;  // 14, written by the creator
    std::uint32_t unused;   // never written
    std::uint32_t reserved; // 0, written by the creator
    OXCHAR exePath[1016];   // the creator's executable, terminated
};
static_assert(sizeof(SessionRecord) == 2048 && offsetof(SessionRecord, exePath) == 16);

constinit int gSessionNumber = kNoSession;
constinit win::HANDLE gMapping = nullptr;

// P followed by `suffix`, P being the first 8 characters of the program name.
void objectName(const char* suffix, OXCHAR* name, std::size_t capacity)
{
    oxdiag::BoundedText text(name, capacity);
    text.append(gpProgramName, 8);
    text.appendAscii(suffix);
}

// Holds the session semaphore for a scope, or, when another process kept it for longer than
// the wait, goes on without it.
class SessionLock {
public:
    SessionLock()
    {
        OXCHAR name[35];
        objectName("_session_sem", name, std::size(name));
        mSemaphore = win::CreateSemaphoreW(nullptr, 0, 1, name);
        if (mSemaphore != nullptr && win::GetLastError() == win::ERROR_ALREADY_EXISTS)
            win::WaitForSingleObject(mSemaphore, kLockWaitMs);
    }
    ~SessionLock()
    {
        if (mSemaphore != nullptr) {
            win::ReleaseSemaphore(mSemaphore, 1, nullptr);
            win::CloseHandle(mSemaphore);
        }
    }
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;

private:
    win::HANDLE mSemaphore;
};

SessionRecord* mapRecord()
{
    return static_cast<SessionRecord*>(
        win::MapViewOfFile(gMapping, win::FILE_MAP_WRITE, 0, 0, sizeof(SessionRecord)));
}

} // namespace

bool claimSessionSlot()
{
    gSessionNumber = kNoSession;
    SessionLock lock;
    OXCHAR name[39];
    objectName("16_session_mem", name, std::size(name));
    bool creator = false;
    gMapping = win::OpenFileMappingW(win::FILE_MAP_WRITE, win::FALSE, name);
    if (gMapping == nullptr) {
        gMapping = win::CreateFileMappingW(win::INVALID_HANDLE_VALUE, nullptr, win::PAGE_READWRITE, 0,
                                           sizeof(SessionRecord), name);
        creator = gMapping != nullptr && win::GetLastError() != win::ERROR_ALREADY_EXISTS;
    }
    if (gMapping == nullptr)
        return true;
    // A record smaller than ours cannot be mapped: the process goes on without a slot.
    SessionRecord* record = mapRecord();
    if (record == nullptr)
        return true;
    bool mayRun = true;
    if (creator) {
        // The path is cut to what the record holds.
        oxdiag::BoundedText path(record->exePath, std::size(record->exePath));
        path.append(gpExePath);
        record->slotMask = 1;
        record->version = 14;
        record->reserved = 0;
        gSessionNumber = 1;
    } else if (record->slotMask == kAllSlotsTaken) {
        if (!isEmbeddingLaunch())
            showStartupMessage(kAllSlotsTakenText, win::MB_OK, 21, gpProductName);
        mayRun = false;
    } else {
        const int slot = std::countr_one(record->slotMask);
        record->slotMask |= std::uint32_t{1} << slot;
        gSessionNumber = slot + 1;
    }
    win::UnmapViewOfFile(record);
    return mayRun;
}

void releaseSessionSlot()
{
    if (gMapping == nullptr)
        return;
    if (gSessionNumber >= 1 && gSessionNumber < kNoSession) {
        SessionLock lock;
        if (SessionRecord* record = mapRecord()) {
            record->slotMask &= ~(std::uint32_t{1} << (gSessionNumber - 1));
            win::UnmapViewOfFile(record);
        }
    }
    win::CloseHandle(gMapping);
    gMapping = nullptr;
}

} // namespace oxstartup

int GetCurrentSessionNumber()
{
    return oxstartup::gSessionNumber;
}
