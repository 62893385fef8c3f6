// tests/platform/EventTracingTest.cpp
// The in-process event tracing: what a session receives and when, what the enable callback is
// told, what EventWrite refuses, and sessions starting and stopping while threads write. Each
// test uses providers of its own GUIDs, so the library's own provider plays no part.

#include "platform/win.h"

#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace win;

constexpr ULONGLONG kChannelBit = 0x8000000000000000ull;

GUID testGuid(DWORD n)
{
    return GUID{0x7E57E7E0u + n, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
}

EVENT_DESCRIPTOR event(USHORT id, UCHAR level, ULONGLONG keyword)
{
    return EVENT_DESCRIPTOR{id, 0, 16, level, 10, 1, keyword};
}

// A provider registered for one test; its enable callback's calls are kept.
struct EnableCall {
    ULONG isEnabled;
    UCHAR level;
    ULONGLONG matchAny;
    bool eventEnabledDuringCall;
};

class Provider {
public:
    explicit Provider(const GUID& id) : mId(id)
    {
        EXPECT_EQ(ERROR_SUCCESS, EventRegister(&mId, &enableCallback, this, &mHandle));
    }
    ~Provider() { EventUnregister(mHandle); }

    REGHANDLE handle() const { return mHandle; }
    const std::vector<EnableCall>& calls() const { return mCalls; }

    ULONG write(const EVENT_DESCRIPTOR& descriptor, std::vector<std::string> fields = {})
    {
        std::vector<EVENT_DATA_DESCRIPTOR> data;
        for (const std::string& field : fields)
            data.push_back({reinterpret_cast<ULONGLONG>(field.data()), static_cast<ULONG>(field.size()), 0});
        return EventWrite(mHandle, &descriptor, static_cast<ULONG>(data.size()), data.data());
    }

private:
    static void enableCallback(LPCGUID, ULONG isEnabled, UCHAR level, ULONGLONG matchAny, ULONGLONG,
                               EVENT_FILTER_DESCRIPTOR*, PVOID context)
    {
        auto* self = static_cast<Provider*>(context);
        const EVENT_DESCRIPTOR any = event(1, 1, 0);
        self->mCalls.push_back({isEnabled, level, matchAny, EventEnabled(self->mHandle, &any) != 0});
    }

    GUID mId;
    REGHANDLE mHandle = 0;
    std::vector<EnableCall> mCalls;
};

// ---------------------------------------------------------------------------------------------

// Guards against a write that nobody wants failing, or reaching a session of another provider.
TEST(EventTracingDelivery, WriteWithoutSessionSucceedsAndReachesNobody)
{
    Provider provider(testGuid(1));
    TraceRecorder otherProvidersSession(testGuid(2));
    const EVENT_DESCRIPTOR descriptor = event(5, 4, 0x1);
    EXPECT_EQ(ERROR_SUCCESS, provider.write(descriptor, {"abc"}));
    EXPECT_FALSE(EventEnabled(provider.handle(), &descriptor));
    EXPECT_TRUE(otherProvidersSession.events().empty());
}

// Guards against a session seeing a changed descriptor, merged or reordered fields, or the
// wrong writer thread.
TEST(EventTracingDelivery, SessionReceivesDescriptorFieldsAndThreadAsWritten)
{
    Provider provider(testGuid(3));
    TraceRecorder session(testGuid(3));
    const EVENT_DESCRIPTOR descriptor{300, 0, 16, 18, 42, 7, kChannelBit | 0x82};
    const std::string binary("\0\x01\xff", 3);
    ASSERT_EQ(ERROR_SUCCESS, provider.write(descriptor, {"first", "", binary}));

    const auto events = session.events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(0, std::memcmp(&descriptor, &events[0].descriptor, sizeof descriptor));
    EXPECT_EQ((std::vector<std::string>{"first", "", binary}), events[0].fields);
    EXPECT_EQ(static_cast<DWORD>(::gettid()), events[0].threadId);
}

// Guards against the level and keyword rules: level 0 admits all levels, an event's level must
// not exceed the session's, keyword 0 always passes, otherwise one shared bit is enough.
TEST(EventTracingDelivery, SessionsFilterByLevelAndAnyKeyword)
{
    Provider provider(testGuid(4));
    TraceRecorder everything(testGuid(4), 0, ~0ull);
    TraceRecorder normalCommands(testGuid(4), 17, 0x2);
    TraceRecorder channelOnly(testGuid(4), 255, kChannelBit);

    provider.write(event(1, 2, kChannelBit | 0x3));  // error, Startup+Commands
    provider.write(event(2, 17, kChannelBit | 0x2)); // normal, Commands
    provider.write(event(3, 18, kChannelBit | 0x2)); // detailed: above 17
    provider.write(event(4, 16, 0x3));               // no channel bit
    provider.write(event(5, 19, 0));                 // no keyword at all
    provider.write(event(6, 16, kChannelBit | 0x4)); // Lisp only

    EXPECT_EQ((std::vector<unsigned>{1, 2, 3, 4, 5, 6}), everything.ids());
    EXPECT_EQ((std::vector<unsigned>{1, 2, 4}), normalCommands.ids());
    EXPECT_EQ((std::vector<unsigned>{1, 2, 3, 5, 6}), channelOnly.ids());
}

// Guards against EventEnabled answering for a stopped session or for another provider's one,
// and against a stopped session still receiving.
TEST(EventTracingDelivery, EventEnabledAndDeliveryFollowSessionsStartingAndStopping)
{
    Provider provider(testGuid(5));
    const EVENT_DESCRIPTOR commands = event(1, 16, kChannelBit | 0x2);
    const EVENT_DESCRIPTOR lisp = event(2, 16, kChannelBit | 0x4);
    {
        TraceRecorder unrelated(testGuid(6));
        EXPECT_FALSE(EventEnabled(provider.handle(), &commands));
    }
    TraceRecorder first(testGuid(5), 0, 0x2);
    EXPECT_TRUE(EventEnabled(provider.handle(), &commands));
    EXPECT_FALSE(EventEnabled(provider.handle(), &lisp));
    {
        TraceRecorder second(testGuid(5), 0, 0x4);
        EXPECT_TRUE(EventEnabled(provider.handle(), &lisp));
        provider.write(lisp);
        EXPECT_EQ(1u, second.events().size());
    }
    EXPECT_FALSE(EventEnabled(provider.handle(), &lisp));
    provider.write(commands);
    first.stop();
    provider.write(commands);
    EXPECT_FALSE(EventEnabled(provider.handle(), &commands));
    EXPECT_EQ((std::vector<unsigned>{1}), first.ids());
}

// Guards against the enable callback missing a session, seeing it before it takes effect, or
// being skipped for sessions that started before the provider registered.
TEST(EventTracingEnableCallback, ToldOfEveryStartAndStopIncludingEarlierSessions)
{
    TraceRecorder early(testGuid(7), 18, 0x6);
    Provider provider(testGuid(7));
    ASSERT_EQ(1u, provider.calls().size());
    EXPECT_EQ(EVENT_CONTROL_CODE_ENABLE_PROVIDER, provider.calls()[0].isEnabled);
    EXPECT_EQ(18, provider.calls()[0].level);
    EXPECT_EQ(0x6u, provider.calls()[0].matchAny);

    {
        TraceRecorder later(testGuid(7), 2, 0x1);
        ASSERT_EQ(2u, provider.calls().size());
        EXPECT_EQ(EVENT_CONTROL_CODE_ENABLE_PROVIDER, provider.calls()[1].isEnabled);
        EXPECT_EQ(2, provider.calls()[1].level);
        EXPECT_EQ(0x1u, provider.calls()[1].matchAny);
    }
    ASSERT_EQ(3u, provider.calls().size());
    EXPECT_EQ(EVENT_CONTROL_CODE_DISABLE_PROVIDER, provider.calls()[2].isEnabled);
    early.stop();
    ASSERT_EQ(4u, provider.calls().size());
    EXPECT_EQ(EVENT_CONTROL_CODE_DISABLE_PROVIDER, provider.calls()[3].isEnabled);
    EXPECT_FALSE(provider.calls()[3].eventEnabledDuringCall);
    EXPECT_TRUE(provider.calls()[1].eventEnabledDuringCall);
}

// Guards against writes through bad handles or malformed payloads corrupting anything or
// reaching a session half-checked.
TEST(EventTracingRefusals, BadHandlesAndPayloadsAreRefusedAndReachNoSession)
{
    REGHANDLE stale = 0;
    {
        Provider provider(testGuid(8));
        stale = provider.handle();
    }
    const EVENT_DESCRIPTOR any = event(1, 1, 0);
    EXPECT_EQ(ERROR_INVALID_HANDLE, EventWrite(0, &any, 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, EventWrite(stale, &any, 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, EventWrite(0xFFFF, &any, 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, EventUnregister(stale));
    EXPECT_FALSE(EventEnabled(stale, &any));

    Provider provider(testGuid(8));
    TraceRecorder session(testGuid(8));
    EXPECT_NE(stale, provider.handle());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, EventWrite(provider.handle(), nullptr, 0, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, EventWrite(provider.handle(), &any, 1, nullptr));
    std::vector<EVENT_DATA_DESCRIPTOR> tooMany(MAX_EVENT_DATA_DESCRIPTORS + 1, {0, 0, 0});
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              EventWrite(provider.handle(), &any, tooMany.size() & 0xFFFF, tooMany.data()));
    EVENT_DATA_DESCRIPTOR nullWithSize{0, 4, 0};
    EXPECT_EQ(ERROR_INVALID_PARAMETER, EventWrite(provider.handle(), &any, 1, &nullWithSize));

    const std::string largest(MAX_EVENT_PAYLOAD_SIZE - 10, 'x');
    EXPECT_EQ(ERROR_ARITHMETIC_OVERFLOW, provider.write(any, {largest, std::string(11, 'y')}));
    EXPECT_TRUE(session.events().empty());
    EXPECT_EQ(ERROR_SUCCESS, provider.write(any, {largest, std::string(10, 'y')}));
    EXPECT_EQ(1u, session.events().size());

    EXPECT_EQ(ERROR_INVALID_PARAMETER, EventRegister(nullptr, nullptr, nullptr, &stale));
    EXPECT_EQ(0u, stale);
    const GUID id = testGuid(8);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, EventRegister(&id, nullptr, nullptr, nullptr));
}

// Guards against the tables overflowing: a full table refuses, and a freed slot is usable again.
TEST(EventTracingRefusals, FullTablesRefuseAndRecover)
{
    const GUID id = testGuid(9);
    std::vector<TRACEHANDLE> sessions;
    for (TRACEHANDLE session; (session = StartTraceSession(
                                   &id, 0, ~0ull, [](auto, auto) {}, nullptr)) != 0;)
        sessions.push_back(session);
    EXPECT_EQ(ERROR_NO_SYSTEM_RESOURCES, GetLastError());
    EXPECT_LE(sessions.size(), 64u);
    EXPECT_GE(sessions.size(), 60u); // a few may belong to the library or other tests' leftovers
    ASSERT_TRUE(StopTraceSession(sessions.back()));
    EXPECT_FALSE(StopTraceSession(sessions.back()));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    sessions.back() = StartTraceSession(
        &id, 0, ~0ull, [](auto, auto) {}, nullptr);
    EXPECT_NE(0u, sessions.back());
    for (TRACEHANDLE session : sessions)
        EXPECT_TRUE(StopTraceSession(session));

    std::vector<REGHANDLE> providers;
    for (REGHANDLE handle = 0; EventRegister(&id, nullptr, nullptr, &handle) == ERROR_SUCCESS;)
        providers.push_back(handle);
    EXPECT_LE(providers.size(), 64u);
    REGHANDLE refused = 1;
    EXPECT_EQ(ERROR_NO_SYSTEM_RESOURCES, EventRegister(&id, nullptr, nullptr, &refused));
    EXPECT_EQ(0u, refused);
    for (REGHANDLE handle : providers)
        EXPECT_EQ(ERROR_SUCCESS, EventUnregister(handle));

    EXPECT_EQ(0u, StartTraceSession(
                      nullptr, 0, 0, [](auto, auto) {}, nullptr));
    EXPECT_EQ(0u, StartTraceSession(&id, 0, 0, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

// Guards against deadlock when a session's callback writes events or stops its own session.
TEST(EventTracingCallbacks, CallbackMayWriteAndStopItsOwnSession)
{
    struct Context {
        REGHANDLE provider;
        TRACEHANDLE session;
        int calls;
    };
    Provider provider(testGuid(10));
    Context context{provider.handle(), 0, 0};
    const GUID id = testGuid(10);
    context.session = StartTraceSession(
        &id, 0, ~0ull,
        [](const TRACE_EVENT_RECORD* record, PVOID raw) {
            auto* context = static_cast<Context*>(raw);
            ++context->calls;
            if (record->Descriptor->Id == 1) {
                const EVENT_DESCRIPTOR nested = event(2, 1, 0);
                EventWrite(context->provider, &nested, 0, nullptr); // reaches this session too
                EXPECT_TRUE(StopTraceSession(context->session));
            }
        },
        &context);
    ASSERT_NE(0u, context.session);
    provider.write(event(1, 1, 0));
    provider.write(event(3, 1, 0));
    EXPECT_EQ(2, context.calls);
}

// Guards against torn or misdelivered events and against a callback running after its session
// stopped, while threads write and sessions come and go.
TEST(EventTracingThreads, WritersAndSessionsChangingConcurrently)
{
    struct Context {
        std::atomic<bool> stopped{false};
        std::atomic<int> received{0};
        std::atomic<int> afterStop{0};
        std::atomic<int> torn{0};
    };
    Provider provider(testGuid(11));
    const GUID id = testGuid(11);
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            const std::string payload(64, static_cast<char>('a' + t));
            while (!done.load())
                provider.write(event(static_cast<USHORT>(t), 1, 0x1), {payload, payload});
        });
    }
    auto callback = [](const TRACE_EVENT_RECORD* record, PVOID raw) {
        auto* context = static_cast<Context*>(raw);
        if (context->stopped.load())
            ++context->afterStop;
        const char expected = static_cast<char>('a' + record->Descriptor->Id);
        for (ULONG f = 0; f < record->FieldCount; ++f) {
            const std::string field(reinterpret_cast<const char*>(record->Fields[f].Ptr),
                                    record->Fields[f].Size);
            if (record->FieldCount != 2 || field != std::string(64, expected))
                ++context->torn;
        }
        ++context->received;
    };
    int received = 0;
    for (int round = 0; round < 50; ++round) {
        Context context;
        const TRACEHANDLE session = StartTraceSession(&id, 0, round % 2 == 0 ? 0x1 : 0x3, callback, &context);
        ASSERT_NE(0u, session);
        while (context.received.load() < 5)
            std::this_thread::yield();
        ASSERT_TRUE(StopTraceSession(session));
        context.stopped = true;
        EXPECT_EQ(0, context.afterStop.load());
        EXPECT_EQ(0, context.torn.load());
        received += context.received.load();
    }
    done = true;
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_GE(received, 250);
}

} // namespace
