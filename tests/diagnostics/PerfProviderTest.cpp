// tests/diagnostics/PerfProviderTest.cpp
// The class-list callback, the is-enabled questions, and the Nimbus gate through libOxCore.so.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/FreshProcess.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <thread>

namespace {

using namespace oxperf;

const auto* const kListedClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0x1000});
const auto* const kNewClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0x2000});

std::atomic<int> gListCalls{0};

// Stands for the class registry's list: writes the lifetime Start of the one class it knows.
void listClasses()
{
    ++gListCalls;
    PerfLog_WriteOxRxClassLifetimeEvent(kListedClass, u"Listed", true);
}

// The class pointer each event of `session` carries in its first field, in order.
std::vector<const void*> classesOf(const TraceRecorder& session)
{
    std::vector<const void*> classes;
    for (const RecordedEvent& event : session.events())
        std::memcpy(&classes.emplace_back(), event.fields.at(0).data(), sizeof(void*));
    return classes;
}

// Guards against a late session missing earlier classes: the list precedes the first class event of
// each enable, once, also when threads race; it waits for a writer whose Start event is enabled, and
// never runs with nobody listening. A registration while enabled stores nothing.
TEST(ClassListCallback, RunsOnceBeforeTheFirstEnabledClassEventOfEachEnableEvenWithThreads)
{
    struct Registration {
        Registration() { PerfLog_RegisterOxRxClassListCallback(&listClasses); }
        ~Registration() { PerfLog_RegisterOxRxClassListCallback(nullptr); }
    } registration;
    static std::atomic<int> otherCalls{0};
    PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", true);
    {
        TraceRecorder datacapacityOnly(kProviderId, 0, keyword::kDatacapacity);
        PerfLog_WriteObjectRecordInEvent(kNewClass, true); // keyword none: only the channel bit
        PerfLog_WriteOxGiDrawableViewportDrawEvent(kNewClass, false);
    }
    EXPECT_EQ(0, gListCalls.load());
    {
        TraceRecorder session(kProviderId);
        PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", true);
        PerfLog_WriteObjectRecordInEvent(kNewClass, true);
        PerfLog_RegisterOxRxClassListCallback([] { ++otherCalls; });
        PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", false);
        EXPECT_EQ((std::vector<const void*>{kListedClass, kNewClass, kNewClass, kNewClass}),
                  classesOf(session));
    }
    {
        TraceRecorder graphics(kProviderId, 0, keyword::kGsPerformance);
        PerfLog_WriteOxGiDrawableViewportDrawEvent(kNewClass, false); // judged by its Start event
        EXPECT_EQ((std::vector<const void*>{kListedClass, kNewClass}), classesOf(graphics));
    }
    TraceRecorder session(kProviderId);
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i)
                PerfLog_WriteOxGiDrawableWorldDrawEvent(kNewClass, i % 2 == 0);
        });
    threads.clear();
    EXPECT_EQ(801u, session.events().size());
    EXPECT_TRUE(gListCalls == 3 && otherCalls == 0);
}

// Guards against questions asking about another event: per session, InvokeCommand, InvokeLisp,
// StuffCommandThroat, SysvarList (only the channel bit) and PointCloud (level 19).
TEST(PerfLogIsEnabled, AnswersForItsOwnEvents)
{
    const auto enabled = [] {
        return std::string{
            PerfLog_IsInvokeCommandEventEnabled() ? 'C' : '-', PerfLog_IsInvokeLispEventEnabled() ? 'L' : '-',
            PerfLog_IsStuffCommandThroatEventEnabled() ? 'S' : '-',
            PerfLog_IsSysvarListEventEnabled() ? 'V' : '-', PerfLog_IsPointCloudEventEnabled() ? 'P' : '-'};
    };
    EXPECT_EQ("-----", enabled());
    const std::tuple<std::uint8_t, std::uint64_t, std::string> sessions[] = {
        {level::kDetailed, keyword::kLisp, "-L---"},
        {level::kNormal, keyword::kCommands | keyword::kDoc, "-----"},
        {level::kDetailed, kPerformanceChannelKeyword, "CLSV-"},
        {0, keyword::kPointCloudThreading, "----P"}};
    for (const auto& [level, keywords, expected] : sessions) {
        TraceRecorder session(kProviderId, level, keywords);
        EXPECT_EQ(expected, enabled()) << int(level) << " " << keywords;
    }
}

// Guards against the library loading the host core module itself, caching "not loaded" for good, or
// writing while the host previews or plots. In a fresh process: a found export stays cached.
TEST(NimbusGate, WritesNothingWhileTheHostCoreModuleReportsAPreviewOrPlot)
{
    if (oxtest::inFreshProcess())
        return;
    const auto writeEveryNimbusEvent = [] {
        TraceRecorder session(kProviderId);
        PerfLog_WriteNimbusAccessEvent();
        PerfLog_WriteHardNimbusAccessEvent();
        PerfLog_WriteSlaveReadyEvent(); // never asks
        for (auto write : {PerfLog_WriteNimbusCreatedEvent, PerfLog_WriteNimbusDestroyedEvent,
                           PerfLog_WriteHardNimbusCreatedEvent, PerfLog_WriteHardNimbusDestroyedEvent})
            write(nullptr);
        return session.ids().size();
    };
    EXPECT_EQ(7u, writeEveryNimbusEvent());
    ASSERT_EQ(nullptr, ::dlopen(OXFIRST_TEST_OXCORE_PATH, RTLD_LAZY | RTLD_NOLOAD))
        << "the library loaded it";
    void* core = ::dlopen(OXFIRST_TEST_OXCORE_PATH, RTLD_NOW);
    ASSERT_NE(nullptr, core);
    auto setPreviewOrPlotting = reinterpret_cast<void (*)(bool)>(::dlsym(core, "oxTestSetPreviewOrPlotting"));
    ASSERT_NE(nullptr, setPreviewOrPlotting);
    setPreviewOrPlotting(true);
    EXPECT_EQ(1u, writeEveryNimbusEvent());
    setPreviewOrPlotting(false);
    EXPECT_EQ(7u, writeEveryNimbusEvent());
}

} // namespace
