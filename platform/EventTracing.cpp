// platform/EventTracing.cpp
// Event tracing inside the process: providers register and write, trace sessions enable them
// and receive their events synchronously on the writing thread. Both live in fixed tables in
// static storage, so nothing here allocates. Registration and session changes take one lock;
// writes take none: a write first reads its provider's summary of what the sessions enable and
// returns at once when no session can want the event, and otherwise walks the session table,
// guarding each delivery with a per-session count of the writers inside it so that stopping a
// session can wait for them.

#include "platform/win.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace win {
namespace {

constexpr std::size_t kMaximumProviders = 64;
constexpr std::size_t kMaximumSessions = 64;

// A handle is (generation << 8) | (slot + 1): slot 0xFF - 1 is never used, and a handle of a
// session slot's earlier occupant is refused because the generation differs.
constexpr std::uint64_t kSlotBits = 0xFF;

std::uint64_t makeHandle(std::uint32_t generation, std::size_t slot)
{
    return (static_cast<std::uint64_t>(generation) << 8) | (slot + 1);
}

std::size_t slotOf(std::uint64_t handle)
{
    return static_cast<std::size_t>(handle & kSlotBits) - 1; // handle 0 gives SIZE_MAX
}

// A GUID as two words, so that writers can compare it while another thread may rewrite it.
struct GuidWords {
    std::atomic<std::uint64_t> low;
    std::atomic<std::uint64_t> high;

    void store(const GUID& id)
    {
        std::uint64_t words[2];
        std::memcpy(words, &id, sizeof words);
        low.store(words[0], std::memory_order_relaxed);
        high.store(words[1], std::memory_order_relaxed);
    }
    bool equals(const GuidWords& other) const
    {
        return low.load(std::memory_order_relaxed) == other.low.load(std::memory_order_relaxed) &&
               high.load(std::memory_order_relaxed) == other.high.load(std::memory_order_relaxed);
    }
};

struct Provider {
    std::atomic<REGHANDLE> handle; // 0 while the slot is free
    // What the sessions enabling this provider admit, recomputed under gControl whenever one
    // starts or stops: the highest level any of them admits plus one (0 when none enables the
    // provider, 256 when one admits every level), and the union of their match-any masks. An
    // event outside this summary is enabled by no session; one inside it may be.
    std::atomic<std::uint32_t> levelLimit;
    std::atomic<ULONGLONG> keywordUnion;
    GuidWords id;
    // Read and written under gControl only.
    PENABLECALLBACK callback;
    PVOID callbackContext;
};

enum SessionState : int { kFree = 0, kActive = 1, kStopping = 2 };

struct Session {
    std::atomic<int> state;
    // Writers between their second look at `state` and the end of their delivery. A stopping
    // session waits for this to drain, after which its callback runs on no thread.
    std::atomic<int> writersInside;
    // The filter: atomics, because EventEnabled reads them without entering the session.
    GuidWords provider;
    std::atomic<UCHAR> level;
    std::atomic<ULONGLONG> keywords;
    // Written while the session is free, published by the store of kActive; read by writers
    // inside it.
    PTRACE_EVENT_CALLBACK callback;
    PVOID context;
    // Under gControl only.
    TRACEHANDLE handle;
    std::uint32_t generation;
};

constinit CRITICAL_SECTION gControl{};
constinit Provider gProviders[kMaximumProviders]{};
constinit Session gSessions[kMaximumSessions]{};
// One past the highest session slot ever used, so writers do not walk the whole table.
constinit std::atomic<std::size_t> gSessionSlotsInUse{0};

// How many deliveries of each session this thread is inside, so that a session's callback may
// write events that reach the same session, and a session can be stopped from a thread that is
// inside one of its deliveries without waiting for itself.
thread_local int tInside[kMaximumSessions];

bool summaryAdmits(const Provider& provider, const EVENT_DESCRIPTOR& event)
{
    if (event.Level >= provider.levelLimit.load(std::memory_order_relaxed))
        return false;
    return event.Keyword == 0 || (event.Keyword & provider.keywordUnion.load(std::memory_order_relaxed)) != 0;
}

bool sessionAdmits(const Session& session, const EVENT_DESCRIPTOR& event)
{
    const UCHAR level = session.level.load(std::memory_order_relaxed);
    if (level != 0 && event.Level > level)
        return false;
    return event.Keyword == 0 || (event.Keyword & session.keywords.load(std::memory_order_relaxed)) != 0;
}

Provider* providerOf(REGHANDLE handle)
{
    const std::size_t slot = slotOf(handle);
    if (slot >= kMaximumProviders)
        return nullptr;
    Provider& provider = gProviders[slot];
    return provider.handle.load(std::memory_order_acquire) == handle ? &provider : nullptr;
}

// Under gControl. Recomputes the summary of every provider registered under `id`.
void refreshSummaries(const GuidWords& id)
{
    std::uint32_t levelLimit = 0;
    ULONGLONG keywordUnion = 0;
    const std::size_t used = gSessionSlotsInUse.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < used; ++i) {
        const Session& session = gSessions[i];
        if (session.state.load(std::memory_order_relaxed) != kActive || !session.provider.equals(id))
            continue;
        const UCHAR level = session.level.load(std::memory_order_relaxed);
        levelLimit = std::max(levelLimit, level == 0 ? 256u : level + 1u);
        keywordUnion |= session.keywords.load(std::memory_order_relaxed);
    }
    for (Provider& provider : gProviders) {
        if (provider.handle.load(std::memory_order_relaxed) == 0 || !provider.id.equals(id))
            continue;
        provider.levelLimit.store(levelLimit, std::memory_order_relaxed);
        provider.keywordUnion.store(keywordUnion, std::memory_order_relaxed);
    }
}

// Under gControl. Tells every provider registered under the session's GUID of its start or stop.
void callEnableCallbacks(const Session& session, bool enabled)
{
    GUID id;
    const std::uint64_t words[2] = {session.provider.low.load(std::memory_order_relaxed),
                                    session.provider.high.load(std::memory_order_relaxed)};
    std::memcpy(&id, words, sizeof id);
    const UCHAR level = enabled ? session.level.load(std::memory_order_relaxed) : 0;
    const ULONGLONG keywords = enabled ? session.keywords.load(std::memory_order_relaxed) : 0;
    for (Provider& provider : gProviders) {
        if (provider.handle.load(std::memory_order_relaxed) == 0 || provider.callback == nullptr ||
            !provider.id.equals(session.provider))
            continue;
        provider.callback(&id,
                          enabled ? EVENT_CONTROL_CODE_ENABLE_PROVIDER : EVENT_CONTROL_CODE_DISABLE_PROVIDER,
                          level, keywords, 0, nullptr, provider.callbackContext);
    }
}

// The process and thread ids stamped on every delivered event, each asked of the system once:
// getpid and gettid are system calls, slower than the rest of a delivery. A forked child asks
// again.
constinit std::atomic<DWORD> gProcessId{0};
constinit thread_local DWORD tThreadId = 0;

void forgetIdsInChild()
{
    gProcessId.store(0, std::memory_order_relaxed);
    tThreadId = 0; // the child's only thread is the one that forked
}

ULONGLONG monotonicNanoseconds()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000000000u + static_cast<ULONGLONG>(now.tv_nsec);
}

// The slow path of EventWrite: some session may want the event.
[[gnu::noinline]] ULONG writeToSessions(const Provider& provider, const EVENT_DESCRIPTOR& event, ULONG count,
                                        const EVENT_DATA_DESCRIPTOR* fields)
{
    std::uint64_t payloadSize = 0;
    for (ULONG i = 0; i < count; ++i) {
        if (fields[i].Ptr == 0 && fields[i].Size != 0)
            return ERROR_INVALID_PARAMETER;
        payloadSize += fields[i].Size;
    }
    if (payloadSize > MAX_EVENT_PAYLOAD_SIZE)
        return ERROR_ARITHMETIC_OVERFLOW;

    GUID id;
    const std::uint64_t words[2] = {provider.id.low.load(std::memory_order_relaxed),
                                    provider.id.high.load(std::memory_order_relaxed)};
    std::memcpy(&id, words, sizeof id);
    const TRACE_EVENT_RECORD record{
        &id, &event, monotonicNanoseconds(), GetCurrentProcessId(), GetCurrentThreadId(), count, fields};

    const std::size_t used = gSessionSlotsInUse.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < used; ++i) {
        Session& session = gSessions[i];
        if (session.state.load(std::memory_order_acquire) != kActive)
            continue;
        // Announce the delivery, then look again: a stopper that marked the session stopping
        // before this increment sees no writer inside, and this writer then sees it stopping.
        session.writersInside.fetch_add(1, std::memory_order_seq_cst);
        if (session.state.load(std::memory_order_seq_cst) == kActive &&
            session.provider.equals(provider.id) && sessionAdmits(session, event)) {
            ++tInside[i];
            session.callback(&record, session.context);
            --tInside[i];
        }
        session.writersInside.fetch_sub(1, std::memory_order_release);
    }
    return ERROR_SUCCESS;
}

} // namespace

DWORD GetCurrentProcessId()
{
    DWORD id = gProcessId.load(std::memory_order_relaxed);
    if (id == 0) [[unlikely]] {
        static const bool registered = ::pthread_atfork(nullptr, nullptr, &forgetIdsInChild) == 0;
        (void)registered;
        id = static_cast<DWORD>(::getpid());
        gProcessId.store(id, std::memory_order_relaxed);
    }
    return id;
}

DWORD GetCurrentThreadId()
{
    if (tThreadId == 0) [[unlikely]]
        tThreadId = static_cast<DWORD>(::gettid());
    return tThreadId;
}

ULONG EventRegister(LPCGUID ProviderId, PENABLECALLBACK EnableCallback, PVOID CallbackContext,
                    REGHANDLE* RegHandle)
{
    if (RegHandle == nullptr)
        return ERROR_INVALID_PARAMETER;
    *RegHandle = 0;
    if (ProviderId == nullptr)
        return ERROR_INVALID_PARAMETER;

    CriticalSectionGuard guard(gControl);
    Provider* free = nullptr;
    for (Provider& provider : gProviders) {
        if (provider.handle.load(std::memory_order_relaxed) == 0) {
            free = &provider;
            break;
        }
    }
    if (free == nullptr)
        return ERROR_NO_SYSTEM_RESOURCES;

    Provider& provider = *free;
    provider.id.store(*ProviderId);
    provider.callback = EnableCallback;
    provider.callbackContext = CallbackContext;
    // A registration is never ended, so a provider's slot is never reused and its handle needs
    // no generation.
    const REGHANDLE handle = makeHandle(1, static_cast<std::size_t>(&provider - gProviders));
    provider.handle.store(handle, std::memory_order_release);
    refreshSummaries(provider.id);
    *RegHandle = handle;

    // Sessions started before the provider registered enable it now, as the system does.
    const std::size_t used = gSessionSlotsInUse.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < used; ++i) {
        const Session& session = gSessions[i];
        if (EnableCallback != nullptr && session.state.load(std::memory_order_relaxed) == kActive &&
            session.provider.equals(provider.id))
            EnableCallback(ProviderId, EVENT_CONTROL_CODE_ENABLE_PROVIDER,
                           session.level.load(std::memory_order_relaxed),
                           session.keywords.load(std::memory_order_relaxed), 0, nullptr, CallbackContext);
    }
    return ERROR_SUCCESS;
}

BOOLEAN EventEnabled(REGHANDLE RegHandle, const EVENT_DESCRIPTOR* EventDescriptor)
{
    const Provider* provider = providerOf(RegHandle);
    if (provider == nullptr || EventDescriptor == nullptr || !summaryAdmits(*provider, *EventDescriptor))
        return FALSE;
    const std::size_t used = gSessionSlotsInUse.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < used; ++i) {
        const Session& session = gSessions[i];
        if (session.state.load(std::memory_order_acquire) == kActive &&
            session.provider.equals(provider->id) && sessionAdmits(session, *EventDescriptor))
            return TRUE;
    }
    return FALSE;
}

ULONG EventWrite(REGHANDLE RegHandle, const EVENT_DESCRIPTOR* EventDescriptor, ULONG UserDataCount,
                 EVENT_DATA_DESCRIPTOR* UserData)
{
    const Provider* provider = providerOf(RegHandle);
    if (provider == nullptr) [[unlikely]]
        return ERROR_INVALID_HANDLE;
    if (EventDescriptor == nullptr || UserDataCount > MAX_EVENT_DATA_DESCRIPTORS ||
        (UserData == nullptr && UserDataCount != 0)) [[unlikely]]
        return ERROR_INVALID_PARAMETER;
    if (!summaryAdmits(*provider, *EventDescriptor)) [[likely]]
        return ERROR_SUCCESS;
    return writeToSessions(*provider, *EventDescriptor, UserDataCount, UserData);
}

TRACEHANDLE StartTraceSession(LPCGUID ProviderId, UCHAR Level, ULONGLONG MatchAnyKeyword,
                              PTRACE_EVENT_CALLBACK Callback, PVOID Context)
{
    if (ProviderId == nullptr || Callback == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    CriticalSectionGuard guard(gControl);
    std::size_t slot = 0;
    while (slot < kMaximumSessions && gSessions[slot].state.load(std::memory_order_relaxed) != kFree)
        ++slot;
    if (slot == kMaximumSessions) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }
    Session& session = gSessions[slot];
    session.provider.store(*ProviderId);
    session.level.store(Level, std::memory_order_relaxed);
    session.keywords.store(MatchAnyKeyword, std::memory_order_relaxed);
    session.callback = Callback;
    session.context = Context;
    session.handle = makeHandle(++session.generation, slot);
    if (slot >= gSessionSlotsInUse.load(std::memory_order_relaxed))
        gSessionSlotsInUse.store(slot + 1, std::memory_order_release);
    session.state.store(kActive, std::memory_order_seq_cst);
    refreshSummaries(session.provider);
    callEnableCallbacks(session, true);
    return session.handle;
}

BOOL StopTraceSession(TRACEHANDLE sessionHandle)
{
    const std::size_t slot = slotOf(sessionHandle);
    {
        CriticalSectionGuard guard(gControl);
        if (slot >= kMaximumSessions || gSessions[slot].handle != sessionHandle ||
            gSessions[slot].state.load(std::memory_order_relaxed) != kActive) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        gSessions[slot].state.store(kStopping, std::memory_order_seq_cst);
        refreshSummaries(gSessions[slot].provider);
        callEnableCallbacks(gSessions[slot], false);
    }
    // Outside the lock: a writer inside the session may be running a callback that starts or
    // stops other sessions. A stopping session is not free, so nobody reuses or stops it
    // meanwhile.
    Session& session = gSessions[slot];
    while (session.writersInside.load(std::memory_order_acquire) != tInside[slot])
        ::sched_yield();
    CriticalSectionGuard guard(gControl);
    session.handle = 0;
    session.state.store(kFree, std::memory_order_release);
    return TRUE;
}

} // namespace win
