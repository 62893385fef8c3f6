// tests/diagnostics/TraceFileTest.cpp
// The trace file, which a process writes from load to exit: each case runs its writer in a fresh
// process with OX_TRACE_FILE (and level and keyword switches) naming a temporary file, then reads
// the file back with a strict JSON parser and checks its events. Events are told apart by the
// writer the manifest names for their id.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/FreshProcess.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

constexpr int kThreads = 4;
constexpr int kCommandsPerThread = 100;
constexpr std::size_t kLongTextLength = 20000;
const auto* const kLifetimeClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0xC1A55});

const OXCHAR kTrickyCommand[] = u"quote\" back\\ tab\t nl\n ctl\x01 smile\U0001F600 lone\xD800 end";
const char kTrickyCommandUtf8[] =
    "quote\" back\\ tab\t nl\n ctl\x01 smile\xF0\x9F\x98\x80 lone\xEF\xBF\xBD end";

std::string read(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The value `text` holds, or a discarded value when it is not strict JSON. The parser refuses
// trailing commas, comments, leading zeros, raw control characters, lone surrogates and
// ill-formed UTF-8; a key twice in one object, which it would take, fails the test here.
Json parseStrict(const std::string& text)
{
    std::vector<std::set<std::string>> keys;
    const Json value = Json::parse(
        text,
        [&keys](int, Json::parse_event_t event, Json& parsed) {
            if (event == Json::parse_event_t::object_start)
                keys.emplace_back();
            else if (event == Json::parse_event_t::object_end)
                keys.pop_back();
            else if (event == Json::parse_event_t::key &&
                     !keys.back().insert(parsed.get<std::string>()).second)
                ADD_FAILURE() << "key " << parsed << " twice";
            return true;
        },
        /*allow_exceptions*/ false);
    EXPECT_FALSE(value.is_discarded()) << "not strict JSON";
    return value;
}

// The trace's events, after checking the whole text is one strict JSON array of event objects
// that each carry a name, a phase, a time, a process, a thread and arguments naming a manifest
// event; that every begin slice of a thread ends on that thread under the same name, innermost
// first; and that a thread's times never go back.
std::vector<Json> eventsOf(const std::string& text)
{
    const Json trace = parseStrict(text);
    EXPECT_TRUE(trace.is_array());
    if (!trace.is_array())
        return {};
    std::map<double, std::vector<std::string>> open;
    std::map<double, double> lastTime;
    for (const Json& event : trace) {
        const bool wellFormed =
            event.is_object() && event.value("name", "") != "" && event.value("ph", "") != "" &&
            event.contains("ts") && event["ts"].is_number() && event.contains("pid") &&
            event["pid"].is_number() && event.contains("tid") && event["tid"].is_number() &&
            event.contains("args") && event["args"].contains("event") &&
            oxperf::findEvent(event["args"]["event"].get<std::uint16_t>()) != nullptr;
        EXPECT_TRUE(wellFormed) << event;
        if (!wellFormed)
            return {};
        const double tid = event["tid"], ts = event["ts"];
        EXPECT_GE(ts, lastTime[tid]);
        lastTime[tid] = ts;
        if (event["ph"] == "B") {
            open[tid].push_back(event["name"]);
        } else if (event["ph"] == "E") {
            EXPECT_EQ(open[tid].empty() ? "(no begin)" : open[tid].back(), event["name"]);
            if (!open[tid].empty())
                open[tid].pop_back();
        }
    }
    for (const auto& [tid, names] : open)
        EXPECT_TRUE(names.empty()) << names.size() << " slices left open on thread " << tid;
    return trace;
}

// The writer of an event as the manifest names it, without "PerfLog_Write".
std::string writerOf(const Json& event)
{
    return std::string(oxperf::findEvent(event["args"]["event"].get<std::uint16_t>())->writer.substr(13));
}

class TraceFile : public ::testing::Test {
protected:
    void TearDown() override { std::remove(mPath.c_str()); }

    const std::string mPath = ::testing::TempDir() + "oxfirst-trace-" + std::to_string(::getpid()) + ".json";
    const std::string mFile = "OX_TRACE_FILE=" + mPath;
};

// Guards against escapes that break the JSON, texts that lose characters, map values shown as
// bare numbers, threads' slices interleaving, unparseable switches narrowing the trace, and a
// forked child writing into its parent's file (its event, or a second closing bracket).
TEST_F(TraceFile, EverythingIsRenderedFaithfully)
{
    if (oxtest::inFreshProcess({mFile, "OX_TRACE_LEVEL=loud", "OX_TRACE_KEYWORDS=Startup+Bogus"})) {
        std::map<std::string, std::vector<Json>> byWriter;
        for (const Json& event : eventsOf(read(mPath)))
            byWriter[writerOf(event)].push_back(event);
        // Per writer, its events in order, each with fields and arguments it must show.
        const Json expected = Json::parse(R"({
            "DocLockEvent": [{"args": {"Mode": "kRead", "Command": "", "Force": true}},
                {"args": {"Mode": 3}}],
            "ModelTraversalEvent": [{"name": "DeviceUpdate: StartModel",
                "args": {"RenderType": "kContrast"}}],
            "FailedToSkipTraversalEvent": [{"args": {"Reason": "RetraversePending | HasPackets"}},
                {"args": {"Reason": "TraverseAlways"}}, {"args": {"Reason": "RetraversePending | 0x8"}}],
            "InvokeCommandEvent": [{"args": {"Ilk": -7}}],
            "ProcessedDrawThreadRequestEvent": [{"args": {"Name": "caf\u00e9"}}],
            "SaveToCloudEvent": [{"ph": "B", "args": {"name": "", "flag": true}}, {"ph": "E"}],
            "OxRxClassLifetimeEvent": [{"ph": "b", "id": "0xc1a55"}, {"ph": "e", "id": "0xc1a55"}],
            "AddRenderNodeEvent": [{}], "BolLifetimeEvent": [{}, {}], "AssertEvent": [{}],
            "CommandFailedEvent": []
        })");
        for (const auto& [writer, events] : expected.items()) {
            ASSERT_EQ(events.size(), byWriter[writer].size()) << writer;
            for (std::size_t i = 0; i < events.size(); ++i) {
                const Json& actual = byWriter[writer][i];
                for (const auto& [key, value] : events[i].items()) {
                    if (key == "args") {
                        for (const auto& [name, wanted] : value.items())
                            EXPECT_EQ(wanted, actual["args"][name]) << writer << " " << i << " " << name;
                    } else {
                        EXPECT_EQ(value, actual[key]) << writer << " " << i << " " << key;
                    }
                }
            }
        }
        EXPECT_EQ(kTrickyCommandUtf8, byWriter["InvokeCommandEvent"][0]["args"]["Parameters"]);
        EXPECT_EQ(std::string(kLongTextLength, 'x'), byWriter["AssertEvent"][0]["args"]["Message"]);

        // The lifetime ends on another thread: an async pair joined by the class's address.
        EXPECT_NE(byWriter["OxRxClassLifetimeEvent"][0]["tid"], byWriter["OxRxClassLifetimeEvent"][1]["tid"]);

        // One command slice per thread and iteration, each on its thread's own track.
        std::map<std::string, std::set<double>> threadsByName;
        for (const Json& start : byWriter["StartCommandEvent"])
            threadsByName[start["args"]["Command"]].insert(start["tid"].get<double>());
        EXPECT_EQ(static_cast<std::size_t>(kThreads * kCommandsPerThread + 1),
                  byWriter["StartCommandEvent"].size());
        EXPECT_EQ(byWriter["StartCommandEvent"].size(), byWriter["EndCommandEvent"].size());
        for (int t = 0; t < kThreads; ++t)
            EXPECT_EQ(1u, threadsByName["T" + std::to_string(t)].size());
        return;
    }
    PerfLog_WriteStartCommandEvent(u"LINE");
    PerfLog_WriteOpenDocumentEvent(u"plan.oxd", true);
    PerfLog_WriteDocLockEvent(nullptr, 32, nullptr, true);
    PerfLog_WriteDocLockEvent(nullptr, 3, u"ERASE", false);
    PerfLog_WriteOpenDocumentEvent(u"plan.oxd", false);
    PerfLog_WriteEndCommandEvent(u"LINE");

    PerfLog_WriteModelTraversalEvent(6, true);
    for (unsigned reason : {5, 0, 9})
        PerfLog_WriteFailedToSkipTraversalEvent(reason);
    PerfLog_WriteInvokeCommandEvent(kTrickyCommand, -7);
    PerfLog_WriteProcessedDrawThreadRequestEvent(nullptr, "caf\xe9");
    PerfLog_WriteSaveToCloudEvent(nullptr, true, true);
    PerfLog_WriteSaveToCloudEvent(u"c.oxd", false, false);
    PerfLog_WriteAddRenderNodeEvent(1, 2); // diagnostic level
    PerfLog_WriteBolLifetimeEvent(true);   // no keyword
    PerfLog_WriteBolLifetimeEvent(false);
    PerfLog_WriteAssertEvent(std::u16string(kLongTextLength, u'x').c_str());
    PerfLog_WriteOxRxClassLifetimeEvent(kLifetimeClass, u"Lifetime", true);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            const std::u16string name = u"T" + std::u16string(1, static_cast<char16_t>(u'0' + t));
            for (int i = 0; i < kCommandsPerThread; ++i) {
                PerfLog_WriteStartCommandEvent(name.c_str());
                PerfLog_WriteInvalidateGsNodeEvent(static_cast<unsigned>(i));
                PerfLog_WriteEndCommandEvent(name.c_str());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    std::thread([] { PerfLog_WriteOxRxClassLifetimeEvent(kLifetimeClass, u"Lifetime", false); }).join();

    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30)); // the write would go out at once
        PerfLog_WriteCommandFailedEvent(u"child");
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Guards against the level and keyword switches being ignored or misread: only what they admit
// reaches the file.
TEST_F(TraceFile, SwitchesNarrowTheTrace)
{
    if (oxtest::inFreshProcess({mFile, "OX_TRACE_LEVEL=normal", "OX_TRACE_KEYWORDS=doc+Commands"})) {
        std::vector<std::string> writers;
        for (const Json& event : eventsOf(read(mPath)))
            writers.push_back(writerOf(event));
        EXPECT_EQ(
            (std::vector<std::string>{"StartCommandEvent", "DocLockEvent", "AssertEvent", "EndCommandEvent"}),
            writers);
        return;
    }
    PerfLog_WriteStartCommandEvent(u"A");              // minimal, Startup+Commands
    PerfLog_WriteInvokeCommandEvent(u"", 0);           // detailed
    PerfLog_WriteDocLockEvent(nullptr, 0, u"", false); // normal, Commands+Doc
    PerfLog_WriteStartDocEvent(nullptr);               // detailed
    PerfLog_WriteReadDrawingEvent(u"", true);          // normal, no keyword
    PerfLog_WriteAssertEvent(u"assert");               // error, Startup+Commands
    PerfLog_WriteDeviceUpdateEvent(true);              // normal, GsPerformance
    PerfLog_WriteEndCommandEvent(u"A");                // minimal, Startup+Commands off the channel
}

// Guards against a crash costing more than its last moment: once an event finds the last write
// old, the file on disk lacks only the closing bracket and holds every event written so far.
TEST_F(TraceFile, CrashLosesOnlyTheClosingBracket)
{
    if (oxtest::inFreshProcess({mFile}))
        return;
    for (int i = 0; i < 100; ++i)
        PerfLog_WriteSetLispCoroutineStateEvent(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PerfLog_WriteSetLispCoroutineStateEvent(-1);
    const std::string text = read(std::getenv("OX_TRACE_FILE")); // as a crash now would leave it
    ASSERT_FALSE(text.empty());
    EXPECT_NE(']', text.back());
    const std::vector<Json> events = eventsOf(text + "]");
    ASSERT_EQ(101u, events.size());
    EXPECT_EQ(-1, events.back()["args"]["State"]);
}

// Guards against a file that cannot be created disturbing the program: no trace, no session of
// the library's own, and other sessions work as before.
TEST_F(TraceFile, PathCannotBeWritten)
{
    if (oxtest::inFreshProcess({"OX_TRACE_FILE=" + mPath + ".missing/trace.json"}))
        return;
    EXPECT_FALSE(PerfLog_IsInvokeCommandEventEnabled());
    TraceRecorder session(oxperf::kProviderId);
    PerfLog_WriteStartCommandEvent(u"A");
    EXPECT_EQ(1u, session.events().size());
}

#ifdef OXFIRST_TEST_DEMO_PATH
// Guards against a demo trace that does not open, or that shows the command, the document and
// the class lifetime as anything but slices.
TEST_F(TraceFile, DemoTraceHoldsTheTourAsSlices)
{
    std::string output;
    ASSERT_EQ(0, oxtest::runProcess(OXFIRST_TEST_DEMO_PATH, {}, {mFile}, &output)) << output;
    // The class system's own classes come and go around the tour: only the tour's class counts.
    std::vector<Json> events;
    std::vector<std::string> shape;
    for (const Json& event : eventsOf(read(mPath))) {
        if (event["name"] == "OxRxClassLifetime" && event["args"]["OxRxClassName"] != "DemoClass")
            continue;
        events.push_back(event);
        shape.push_back(event["ph"].get<std::string>() + " " + event["name"].get<std::string>());
    }
    EXPECT_EQ(
        (std::vector<std::string>{"b OxRxClassLifetime", "B Command", "B OxApDocImpManager-OpenDocumentFile",
                                  "i Doc: Lock", "i Doc: Unlock", "E OxApDocImpManager-OpenDocumentFile",
                                  "E Command", "e OxRxClassLifetime"}),
        shape);
    ASSERT_EQ(8u, events.size());
    EXPECT_EQ("OPEN", events[1]["args"]["Command"]);
    EXPECT_EQ("Floor plan.oxd", events[2]["args"]["data"]);
    EXPECT_EQ("kWrite", events[3]["args"]["Mode"]);
    EXPECT_EQ(events[0]["id"], events[7]["id"]);
}
#endif

} // namespace
