// tests/platform/EventTracingTest.cpp
// The in-process event tracing: which sessions receive what and when, the enable callback, refusals,
// threads (event contents: tests/diagnostics). Providers use GUIDs of their own, not the library's.

#include "platform/PlatformTest.h"
#include "support/TraceRecorder.h"

namespace {

using namespace win;

constexpr ULONGLONG kChannelBit = 0x8000000000000000ull;

EVENT_DESCRIPTOR event(USHORT id, UCHAR level, ULONGLONG keyword)
{
    return EVENT_DESCRIPTOR{id, 0, 16, level, 10, 1, keyword};
}

// A provider registered under guid(n) that keeps what its enable callback was told. It is never
// unregistered, so each test keeps its provider for the life of the process.
struct Provider {
    using EnableCall = std::tuple<ULONG, UCHAR, ULONGLONG, bool>; // also whether EventEnabled answered yes
    static GUID guid(DWORD n) { return GUID{0x7E57E7E0u + n, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}; }
    explicit Provider(DWORD n) : id(guid(n)) { EXPECT_EQ(0u, EventRegister(&id, &onEnable, this, &handle)); }
    ULONG write(const EVENT_DESCRIPTOR& descriptor, std::vector<std::string> fields = {})
    {
        std::vector<EVENT_DATA_DESCRIPTOR> data;
        for (const std::string& field : fields)
            data.push_back({reinterpret_cast<ULONGLONG>(field.data()), static_cast<ULONG>(field.size()), 0});
        return EventWrite(handle, &descriptor, static_cast<ULONG>(data.size()), data.data());
    }
    static void onEnable(LPCGUID, ULONG isEnabled, UCHAR level, ULONGLONG matchAny, ULONGLONG,
                         EVENT_FILTER_DESCRIPTOR*, PVOID context)
    {
        auto* self = static_cast<Provider*>(context);
        const EVENT_DESCRIPTOR any = event(1, 1, 0);
        self->calls.push_back({isEnabled, level, matchAny, EventEnabled(self->handle, &any) != 0});
    }
    GUID id;
    REGHANDLE handle = 0;
    std::vector<EnableCall> calls;
};

// A write nobody wants failing or reaching another provider's session; EventEnabled answering for a
// stopped session or another provider's; a stopped session still receiving. The enable callback
// missing a session, seeing it before it takes effect (or after it stopped), or skipped for sessions
// that started before the provider registered. Deadlock when a session's callback writes events or
// stops its own session.
TEST(EventTracingDelivery, EnablingAndDeliveryFollowSessionsStartingAndStopping)
{
    TraceRecorder early(Provider::guid(5), 18, 0x8); // wants neither of the events below
    static Provider provider(5);
    const EVENT_DESCRIPTOR commands = event(1, 16, kChannelBit | 0x2);
    const EVENT_DESCRIPTOR lisp = event(2, 16, kChannelBit | 0x4);
    {
        TraceRecorder unrelated(Provider::guid(6));
        EXPECT_TRUE(provider.write(commands, {"abc"}) == ERROR_SUCCESS &&
                    !EventEnabled(provider.handle, &commands) && unrelated.events().empty());
    }
    TraceRecorder first(provider.id, 0, 0x2);
    EXPECT_TRUE(EventEnabled(provider.handle, &commands) && !EventEnabled(provider.handle, &lisp));
    {
        TraceRecorder second(provider.id, 0, 0x4);
        EXPECT_TRUE(provider.calls.size() == 3 && EventEnabled(provider.handle, &lisp) &&
                    provider.write(lisp) == ERROR_SUCCESS && second.events().size() == 1);
    }
    EXPECT_FALSE(EventEnabled(provider.handle, &lisp));
    provider.write(commands);
    first.stop();
    early.stop();
    provider.write(commands);
    EXPECT_TRUE(!EventEnabled(provider.handle, &commands) && first.ids() == std::vector<unsigned>{1});
    const ULONG on = EVENT_CONTROL_CODE_ENABLE_PROVIDER, off = EVENT_CONTROL_CODE_DISABLE_PROVIDER;
    const std::vector<Provider::EnableCall> calls = {{on, 18, 0x8, true}, {on, 0, 0x2, true},
                                                     {on, 0, 0x4, true},  {off, 0, 0, true},
                                                     {off, 0, 0, true},   {off, 0, 0, false}};
    EXPECT_EQ(calls, provider.calls);
    static TRACEHANDLE session = 0;
    static int received = 0;
    auto callback = [](const TRACE_EVENT_RECORD* record, PVOID) {
        if (++received == 1) {
            const EVENT_DESCRIPTOR nested = event(2, 1, 0);
            EventWrite(provider.handle, &nested, 0, nullptr); // reaches this session too
            EXPECT_TRUE(record->Descriptor->Id == 1 && StopTraceSession(session));
        }
    };
    ASSERT_NE(0u, session = StartTraceSession(&provider.id, 0, ~0ull, callback, nullptr));
    EXPECT_TRUE(provider.write(event(1, 1, 0)) == ERROR_SUCCESS &&
                provider.write(event(3, 1, 0)) == ERROR_SUCCESS && received == 2);
}

// Writes through bad handles or malformed payloads corrupting anything or reaching a session
// half-checked; a payload one byte over the limit accepted, or one at the limit refused. Full tables
// not refusing, a freed session slot not usable again; sessions without a provider or a callback
// accepted. In a process of its own: the providers it registers stay registered.
TEST(EventTracingRefusals, BadHandlesPayloadsAndFullTablesAreRefused)
{
    if (oxtest::inFreshProcess())
        return;
    static Provider provider(8);
    TraceRecorder session(provider.id);
    const EVENT_DESCRIPTOR any = event(1, 1, 0);
    for (REGHANDLE handle : {REGHANDLE{0}, provider.handle + 0x100, REGHANDLE{0xFFFF}})
        EXPECT_TRUE(EventWrite(handle, &any, 0, nullptr) == ERROR_INVALID_HANDLE &&
                    !EventEnabled(handle, &any));
    std::vector<EVENT_DATA_DESCRIPTOR> tooMany(MAX_EVENT_DATA_DESCRIPTORS + 1, {0, 0, 0});
    EVENT_DATA_DESCRIPTOR nullWithSize{0, 4, 0};
    for (ULONG result :
         {EventWrite(provider.handle, nullptr, 0, nullptr), EventWrite(provider.handle, &any, 1, nullptr),
          EventWrite(provider.handle, &any, ULONG(tooMany.size()), tooMany.data()),
          EventWrite(provider.handle, &any, 1, &nullWithSize)})
        EXPECT_EQ(ERROR_INVALID_PARAMETER, result);
    const std::string largest(MAX_EVENT_PAYLOAD_SIZE - 10, 'x');
    EXPECT_TRUE(provider.write(any, {largest, std::string(11, 'y')}) == ERROR_ARITHMETIC_OVERFLOW &&
                session.events().empty());
    EXPECT_TRUE(provider.write(any, {largest, std::string(10, 'y')}) == ERROR_SUCCESS &&
                session.events().size() == 1);
    REGHANDLE refused = 1;
    EXPECT_TRUE(EventRegister(nullptr, nullptr, nullptr, &refused) == ERROR_INVALID_PARAMETER &&
                refused == 0 &&
                EventRegister(&provider.id, nullptr, nullptr, nullptr) == ERROR_INVALID_PARAMETER);
    const GUID id = Provider::guid(9);
    const auto ignoreEvents = [](const TRACE_EVENT_RECORD*, PVOID) {};
    std::vector<TRACEHANDLE> sessions;
    for (TRACEHANDLE session; (session = StartTraceSession(&id, 0, ~0ull, ignoreEvents, nullptr)) != 0;)
        sessions.push_back(session);
    EXPECT_TRUE(GetLastError() == ERROR_NO_SYSTEM_RESOURCES && sessions.size() >= 63 &&
                sessions.size() <= 64);
    ASSERT_TRUE(StopTraceSession(sessions.back()));
    EXPECT_TRUE(!StopTraceSession(sessions.back()) && GetLastError() == ERROR_INVALID_HANDLE);
    EXPECT_NE(0u, sessions.back() = StartTraceSession(&id, 0, ~0ull, ignoreEvents, nullptr));
    for (TRACEHANDLE session : sessions)
        EXPECT_TRUE(StopTraceSession(session));
    std::vector<REGHANDLE> providers;
    for (REGHANDLE handle = 0; EventRegister(&id, nullptr, nullptr, &handle) == ERROR_SUCCESS;)
        providers.push_back(handle);
    refused = 1;
    EXPECT_TRUE(providers.size() == 62 && // the library's own provider and provider 8 hold the others
                EventRegister(&id, nullptr, nullptr, &refused) == ERROR_NO_SYSTEM_RESOURCES && refused == 0);
    EXPECT_TRUE(StartTraceSession(nullptr, 0, 0, ignoreEvents, nullptr) == 0 &&
                StartTraceSession(&id, 0, 0, nullptr, nullptr) == 0 &&
                GetLastError() == ERROR_INVALID_PARAMETER);
}

// Torn or misdelivered events, and a callback running after its session stopped, while threads
// write and sessions come and go.
TEST(EventTracingThreads, WritersAndSessionsChangingConcurrently)
{
    static Provider provider(11);
    static std::atomic<bool> stopped;
    static std::atomic<int> received, afterStop, torn;
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            const std::string payload(64, static_cast<char>('a' + t));
            while (!done.load())
                provider.write(event(static_cast<USHORT>(t), 1, 0x1), {payload, payload});
        });
    auto callback = [](const TRACE_EVENT_RECORD* record, PVOID) {
        const std::string expected(64, static_cast<char>('a' + record->Descriptor->Id));
        afterStop += stopped.load();
        for (ULONG f = 0; f < record->FieldCount; ++f)
            torn += record->FieldCount != 2 ||
                    std::string_view(reinterpret_cast<const char*>(record->Fields[f].Ptr),
                                     record->Fields[f].Size) != expected;
        ++received;
    };
    for (int round = 0; round < 50; ++round) {
        stopped = false, received = 0;
        const TRACEHANDLE session =
            StartTraceSession(&provider.id, 0, round % 2 == 0 ? 0x1 : 0x3, callback, nullptr);
        ASSERT_NE(0u, session);
        while (received.load() < 5)
            std::this_thread::yield();
        ASSERT_TRUE(StopTraceSession(session));
        stopped = true;
        EXPECT_TRUE(afterStop.load() == 0 && torn.load() == 0);
    }
    done = true;
    for (std::thread& writer : writers)
        writer.join();
}

} // namespace
