// bench/PerfLogBench.cpp
// What a performance event costs its caller, side by side with an empty call across the same
// library boundary: a plain writer with no session listening, with a session that does not
// enable its keyword, and with one that receives it; the class-based writer, which asks
// EventEnabled first, in the same three worlds. Compare the rows of one run with each other.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "platform/win.h"

#include <benchmark/benchmark.h>

#include <atomic>

namespace {

const auto* const kClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0x1000});

std::atomic<long> gReceived{0};

void countEvent(const win::TRACE_EVENT_RECORD*, win::PVOID)
{
    gReceived.fetch_add(1, std::memory_order_relaxed);
}

// The three worlds a writer can meet. PerfLog_WriteStartCommandEvent carries Startup+Commands;
// the class lifetime events carry GsPerformance; Lisp enables neither.
enum World { kNoSession, kOtherKeyword, kReceiving };

struct Session {
    explicit Session(World world)
    {
        if (world != kNoSession)
            mHandle = win::StartTraceSession(&oxperf::kProviderId, 0,
                                             world == kReceiving ? ~0ull : oxperf::keyword::kLisp,
                                             &countEvent, nullptr);
    }
    ~Session()
    {
        if (mHandle != 0)
            win::StopTraceSession(mHandle);
    }
    win::TRACEHANDLE mHandle = 0;
};

// The baseline: a call of a function that does nothing with a writer's argument, through a
// pointer the compiler cannot see through, as a call into a shared library goes through the PLT.
[[gnu::noinline]] void emptyFunction(const OXCHAR* text)
{
    benchmark::DoNotOptimize(text);
}
void (*volatile gEmptyFunction)(const OXCHAR*) = &emptyFunction;

void EmptyCall(benchmark::State& state)
{
    for (auto _ : state)
        gEmptyFunction(u"LINE");
}

void PlainWriter(benchmark::State& state, World world)
{
    Session session(world);
    for (auto _ : state)
        PerfLog_WriteStartCommandEvent(u"LINE");
}

void ClassWriter(benchmark::State& state, World world)
{
    Session session(world);
    for (auto _ : state)
        PerfLog_WriteOxRxClassLifetimeEvent(kClass, u"OxDbLine", true);
}

} // namespace

BENCHMARK(EmptyCall);
BENCHMARK_CAPTURE(PlainWriter, NoSession, kNoSession);
BENCHMARK_CAPTURE(PlainWriter, SessionWithOtherKeyword, kOtherKeyword);
BENCHMARK_CAPTURE(PlainWriter, SessionReceiving, kReceiving);
BENCHMARK_CAPTURE(ClassWriter, NoSession, kNoSession);
BENCHMARK_CAPTURE(ClassWriter, SessionWithOtherKeyword, kOtherKeyword);
BENCHMARK_CAPTURE(ClassWriter, SessionReceiving, kReceiving);
