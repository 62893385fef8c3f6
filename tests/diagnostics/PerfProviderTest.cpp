// tests/diagnostics/PerfProviderTest.cpp
// What the provider keeps between writes: the class-list callback, armed by each enable and run
// once by the first class-based writer after it; the is-enabled questions; and the Nimbus
// writers' gate through the host core module, whose stand-in (libOxCore.so) this test loads.

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

class ClassListCallback : public ::testing::Test {
protected:
    void SetUp() override
    {
        gListCalls = 0;
        PerfLog_RegisterOxRxClassListCallback(&listClasses);
    }
    void TearDown() override { PerfLog_RegisterOxRxClassListCallback(nullptr); }

    // The class pointer each event of `session` carries in its first field, in order.
    static std::vector<const void*> classesOf(const TraceRecorder& session)
    {
        std::vector<const void*> classes;
        for (const RecordedEvent& event : session.events())
            std::memcpy(&classes.emplace_back(), event.fields.at(0).data(), sizeof(void*));
        return classes;
    }
};

// Guards against a late session missing the classes created before it: the first class event
// after an enable is preceded by the list, which runs once, and the next enable runs it again.
// A registration while the lifetime events are enabled stores nothing: the earlier function
// stays, unarmed, and is what the next enable arms.
TEST_F(ClassListCallback, RunsOnceBeforeTheFirstClassEventOfEachEnable)
{
    static std::atomic<int> otherCalls{0};
    {
        TraceRecorder session(kProviderId);
        PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", true);
        PerfLog_WriteObjectRecordInEvent(kNewClass, true);
        PerfLog_RegisterOxRxClassListCallback([] { ++otherCalls; });
        PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", false);
        EXPECT_EQ((std::vector<const void*>{kListedClass, kNewClass, kNewClass, kNewClass}),
                  classesOf(session));
    }
    TraceRecorder again(kProviderId);
    PerfLog_WriteOxGiDrawableWorldDrawEvent(kNewClass, true);
    EXPECT_EQ((std::vector<const void*>{kListedClass, kNewClass}), classesOf(again));
    EXPECT_TRUE(gListCalls == 2 && otherCalls == 0);
}

// Guards against the list running with nobody listening, and against a class writer whose Start
// event no session enables touching the armed callback: it waits for a writer that will write.
TEST_F(ClassListCallback, WaitsForAClassWriterThatASessionEnables)
{
    PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", true);
    EXPECT_EQ(0, gListCalls.load());
    TraceRecorder datacapacityOnly(kProviderId, 0, keyword::kDatacapacity);
    PerfLog_WriteObjectRecordInEvent(kNewClass, true); // keyword none: only the channel bit
    PerfLog_WriteOxGiDrawableViewportDrawEvent(kNewClass, false);
    EXPECT_EQ(0, gListCalls.load());
    datacapacityOnly.stop();

    TraceRecorder graphics(kProviderId, 0, keyword::kGsPerformance);
    PerfLog_WriteOxGiDrawableViewportDrawEvent(kNewClass, false); // judged by its Start event
    EXPECT_EQ((std::vector<const void*>{kListedClass, kNewClass}), classesOf(graphics));
}

// Guards against threads racing after an enable: the list runs once whoever gets there first.
TEST_F(ClassListCallback, ManyThreadsAfterOneEnableRunItOnce)
{
    TraceRecorder session(kProviderId);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i)
                PerfLog_WriteOxGiDrawableWorldDrawEvent(kNewClass, i % 2 == 0);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(1, gListCalls.load());
    EXPECT_EQ(801u, session.events().size());
}

// ---------------------------------------------------------------------------------------------

// Guards against the questions asking about the wrong event: each answers for its own event's
// level and keywords only.
TEST(PerfLogIsEnabled, AnswersForItsOwnEvents)
{
    EXPECT_FALSE(PerfLog_IsInvokeCommandEventEnabled());
    EXPECT_FALSE(PerfLog_IsPointCloudEventEnabled());
    {
        TraceRecorder lisp(kProviderId, level::kDetailed, keyword::kLisp);
        EXPECT_FALSE(PerfLog_IsInvokeCommandEventEnabled()); // Commands only
        EXPECT_TRUE(PerfLog_IsInvokeLispEventEnabled());
        EXPECT_FALSE(PerfLog_IsStuffCommandThroatEventEnabled());
        EXPECT_FALSE(PerfLog_IsSysvarListEventEnabled()); // no keyword: the channel bit only
    }
    {
        TraceRecorder normalCommands(kProviderId, level::kNormal, keyword::kCommands | keyword::kDoc);
        EXPECT_FALSE(PerfLog_IsInvokeCommandEventEnabled()); // level 18
        EXPECT_FALSE(PerfLog_IsStuffCommandThroatEventEnabled());
    }
    {
        TraceRecorder channel(kProviderId, level::kDetailed, kPerformanceChannelKeyword);
        EXPECT_TRUE(PerfLog_IsInvokeCommandEventEnabled());
        EXPECT_TRUE(PerfLog_IsStuffCommandThroatEventEnabled());
        EXPECT_TRUE(PerfLog_IsSysvarListEventEnabled());
        EXPECT_FALSE(PerfLog_IsPointCloudEventEnabled()); // level 19
    }
    TraceRecorder threading(kProviderId, 0, keyword::kPointCloudThreading);
    EXPECT_TRUE(PerfLog_IsPointCloudEventEnabled());
}

// ---------------------------------------------------------------------------------------------

// Guards against the library loading the host core module itself, against caching "not loaded"
// for good, and against writing while the host previews or plots (other events never ask). In
// a fresh process: the export once found stays cached for the rest of the process.
TEST(NimbusGate, WritesNothingWhileTheHostCoreModuleReportsAPreviewOrPlot)
{
    if (oxtest::inFreshProcess())
        return;
    const auto writeEveryNimbusEvent = [] {
        TraceRecorder session(kProviderId);
        PerfLog_WriteNimbusAccessEvent();
        PerfLog_WriteNimbusCreatedEvent(nullptr);
        PerfLog_WriteNimbusDestroyedEvent(nullptr);
        PerfLog_WriteHardNimbusAccessEvent();
        PerfLog_WriteHardNimbusCreatedEvent(nullptr);
        PerfLog_WriteHardNimbusDestroyedEvent(nullptr);
        PerfLog_WriteSlaveReadyEvent();
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
