// tests/diagnostics/PerfProviderTest.cpp
// What the provider keeps between writes: the class-list callback, armed by each enable and run
// once by the first class-based writer after it; the is-enabled questions; and the Nimbus
// writers' gate through the host core module, whose stand-in (libOxCore.so) this test loads.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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
};

// Guards against a late session missing the classes created before it: the first class event
// after an enable is preceded by the list, which runs once, and a second enable runs it again.
TEST_F(ClassListCallback, RunsOnceBeforeTheFirstClassEventOfEachEnable)
{
    {
        TraceRecorder session(kProviderId);
        PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", true);
        PerfLog_WriteObjectRecordInEvent(kNewClass, true);
        PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", false);
        EXPECT_EQ(1, gListCalls.load());
        EXPECT_EQ((std::vector<unsigned>{37, 37, 7, 38}), session.ids());
        EXPECT_EQ(valueBytes(kListedClass), session.events()[0].fields[0]);
        EXPECT_EQ(valueBytes(kNewClass), session.events()[1].fields[0]);
    }
    TraceRecorder again(kProviderId);
    PerfLog_WriteOxGiDrawableWorldDrawEvent(kNewClass, true);
    EXPECT_EQ(2, gListCalls.load());
    EXPECT_EQ((std::vector<unsigned>{37, 90}), again.ids());
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
    EXPECT_EQ(1, gListCalls.load());
    EXPECT_EQ((std::vector<unsigned>{37, 10}), graphics.ids());
}

// Guards against a registration during a session replacing the callback or arming it.
TEST_F(ClassListCallback, RegisteringWhileLifetimeEventsAreEnabledStoresNothing)
{
    static std::atomic<int> otherCalls{0};
    TraceRecorder session(kProviderId);
    PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", true); // runs and disarms the list
    ASSERT_EQ(1, gListCalls.load());
    PerfLog_RegisterOxRxClassListCallback([] { ++otherCalls; });
    PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", false);
    EXPECT_EQ(0, otherCalls.load());
    EXPECT_EQ(1, gListCalls.load());
    session.stop();

    TraceRecorder next(kProviderId);
    PerfLog_WriteOxRxClassLifetimeEvent(kNewClass, u"New", true);
    EXPECT_EQ(2, gListCalls.load()) << "the earlier registration still holds";
    EXPECT_EQ(0, otherCalls.load());
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

using SetPreviewOrPlotting = void (*)(bool);

std::vector<unsigned> writeEveryNimbusEvent()
{
    TraceRecorder session(kProviderId);
    PerfLog_WriteNimbusAccessEvent();
    PerfLog_WriteNimbusCreatedEvent(nullptr);
    PerfLog_WriteNimbusDestroyedEvent(nullptr);
    PerfLog_WriteHardNimbusAccessEvent();
    PerfLog_WriteHardNimbusCreatedEvent(nullptr);
    PerfLog_WriteHardNimbusDestroyedEvent(nullptr);
    return session.ids();
}

const std::vector<unsigned> kEveryNimbusEvent{62, 63, 64, 65, 66, 67};

// Guards against the library loading the host core module itself, against caching "not loaded"
// for good, and against writing while the host previews or plots. One test, because the export
// once found stays cached for the process.
TEST(NimbusGate, WritesNothingWhileTheHostCoreModuleReportsAPreviewOrPlot)
{
    void* alreadyLoaded = ::dlopen(OXFIRST_TEST_OXCORE_PATH, RTLD_LAZY | RTLD_NOLOAD);
    if (alreadyLoaded == nullptr) {
        EXPECT_EQ(kEveryNimbusEvent, writeEveryNimbusEvent());
        EXPECT_EQ(nullptr, ::dlopen(OXFIRST_TEST_OXCORE_PATH, RTLD_LAZY | RTLD_NOLOAD))
            << "the library loaded it";
    }
    void* core = ::dlopen(OXFIRST_TEST_OXCORE_PATH, RTLD_NOW);
    ASSERT_NE(nullptr, core);
    auto setPreviewOrPlotting =
        reinterpret_cast<SetPreviewOrPlotting>(::dlsym(core, "oxTestSetPreviewOrPlotting"));
    ASSERT_NE(nullptr, setPreviewOrPlotting);

    setPreviewOrPlotting(true);
    EXPECT_TRUE(writeEveryNimbusEvent().empty());
    setPreviewOrPlotting(false);
    EXPECT_EQ(kEveryNimbusEvent, writeEveryNimbusEvent());
    // Other events never ask.
    setPreviewOrPlotting(true);
    {
        TraceRecorder session(kProviderId);
        PerfLog_WriteSlaveReadyEvent();
        EXPECT_EQ((std::vector<unsigned>{53}), session.ids());
    }
    setPreviewOrPlotting(false);
    if (alreadyLoaded != nullptr)
        ::dlclose(alreadyLoaded);
    // `core` stays loaded: the library keeps the export's address for the rest of the process.
}

} // namespace
