// tests/diagnostics/TraceFileTest.cpp
// The trace file a process writes from load to exit: each case writes in a fresh process with
// OX_TRACE_FILE naming a temporary file, then reads it back as strict JSON.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/FreshProcess.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

constexpr int kThreads = 4, kCommandsPerThread = 100;
const auto* const kLifetimeClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0xC1A55});

const OXCHAR kTrickyCommand[] = u"quote\" back\\ tab\t nl\n ctl\x01 smile\U0001F600 lone\xD800 end";

std::string read(const std::string& path)
{
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

// The trace's events, each given its "writer" (the manifest's, without "PerfLog_Write"), after
// checking: strict JSON (no duplicate keys either) holding an array of events with a name, phase,
// time, process, thread and manifest event; begin slices ending on their thread, innermost first;
// no thread's time going back.
std::vector<Json> eventsOf(const std::string& text)
{
    std::vector<std::set<std::string>> keys;
    Json trace = Json::parse(
        text,
        [&keys](int, Json::parse_event_t event, Json& parsed) {
            using Event = Json::parse_event_t;
            if (event == Event::object_start)
                keys.emplace_back();
            else if (event == Event::object_end)
                keys.pop_back();
            else if (event == Event::key && !keys.back().insert(parsed.get<std::string>()).second)
                ADD_FAILURE() << "key " << parsed << " twice";
            return true;
        },
        /*allow_exceptions*/ false);
    EXPECT_TRUE(trace.is_array()) << "not strict JSON or not an array";
    if (!trace.is_array())
        return {};
    std::map<double, std::vector<std::string>> open;
    std::map<double, double> lastTime;
    for (Json& event : trace) {
        const auto number = [&event](const char* key) { return event.value(key, Json()).is_number(); };
        const bool wellFormed =
            event.is_object() && event.value("name", "") != "" && event.value("ph", "") != "" &&
            number("ts") && number("pid") && number("tid") &&
            oxperf::findEvent(event.value("args", Json::object()).value("event", 0)) != nullptr;
        EXPECT_TRUE(wellFormed) << event;
        if (!wellFormed)
            return {};
        event["writer"] = oxperf::findEvent(event["args"]["event"].get<std::uint16_t>())->writer.substr(13);
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

class TraceFile : public ::testing::Test {
protected:
    void TearDown() override { std::remove(mPath.c_str()); }

    const std::string mPath = ::testing::TempDir() + "oxfirst-trace-" + std::to_string(::getpid()) + ".json";
    const std::string mFile = "OX_TRACE_FILE=" + mPath;
};

// Guards against escapes that break the JSON, texts losing characters, map values shown as numbers,
// threads' slices interleaving or sharing a track, a lifetime pair not joined across threads,
// unparseable switches narrowing the trace, and a forked child writing into its parent's file.
TEST_F(TraceFile, EverythingIsRenderedFaithfully)
{
    if (oxtest::inFreshProcess({mFile, "OX_TRACE_LEVEL=loud", "OX_TRACE_KEYWORDS=Startup+Bogus"})) {
        std::map<std::string, std::vector<Json>> byWriter;
        for (const Json& event : eventsOf(read(mPath)))
            byWriter[event["writer"].get<std::string>()].push_back(event);
        // Per writer, its events in order, each with fields and arguments it must show.
        const Json expected = Json::parse(R"({
            "DocLockEvent": [{"args": {"Mode": "kRead", "Command": "", "Force": true}}, {"args": {"Mode": 3}}],
            "ModelTraversalEvent": [{"name": "DeviceUpdate: StartModel", "args": {"RenderType": "kContrast"}}],
            "FailedToSkipTraversalEvent": [{"args": {"Reason": "RetraversePending | HasPackets"}},
                {"args": {"Reason": "TraverseAlways"}}, {"args": {"Reason": "RetraversePending | 0x8"}}],
            "InvokeCommandEvent": [{"args": {"Ilk": -7,
                "Parameters": "quote\" back\\ tab\t nl\n ctl\u0001 smile\ud83d\ude00 lone\ufffd end"}}],
            "ProcessedDrawThreadRequestEvent": [{"args": {"Name": "caf\u00e9"}}],
            "SaveToCloudEvent": [{"ph": "B", "args": {"name": "", "flag": true}}, {"ph": "E"}],
            "OxRxClassLifetimeEvent": [{"ph": "b", "id": "0xc1a55"}, {"ph": "e", "id": "0xc1a55"}],
            "AddRenderNodeEvent": [{}], "BolLifetimeEvent": [{}, {}], "AssertEvent": [{}],
            "CommandFailedEvent": []
        })");
        for (const auto& [writer, events] : expected.items()) {
            ASSERT_EQ(events.size(), byWriter[writer].size()) << writer;
            for (std::size_t i = 0; i < events.size(); ++i) {
                Json patched = byWriter[writer][i]; // unchanged when it holds what is expected
                patched.merge_patch(events[i]);
                EXPECT_EQ(byWriter[writer][i], patched) << writer << " " << i;
            }
        }
        EXPECT_EQ(std::string(20000, 'x'), byWriter["AssertEvent"][0]["args"]["Message"]);

        EXPECT_NE(byWriter["OxRxClassLifetimeEvent"][0]["tid"], byWriter["OxRxClassLifetimeEvent"][1]["tid"]);

        std::map<std::string, std::set<double>> threadsByName;
        for (const Json& start : byWriter["StartCommandEvent"])
            threadsByName[start["args"]["Command"]].insert(start["tid"].get<double>());
        EXPECT_EQ(kThreads * kCommandsPerThread + 1, int(byWriter["StartCommandEvent"].size()));
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
    PerfLog_WriteAssertEvent(std::u16string(20000, u'x').c_str());
    PerfLog_WriteOxRxClassLifetimeEvent(kLifetimeClass, u"Lifetime", true);

    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            const std::u16string name = u"T" + std::u16string(1, static_cast<char16_t>(u'0' + t));
            for (int i = 0; i < kCommandsPerThread; ++i) {
                PerfLog_WriteStartCommandEvent(name.c_str());
                PerfLog_WriteInvalidateGsNodeEvent(static_cast<unsigned>(i));
                PerfLog_WriteEndCommandEvent(name.c_str());
            }
        });
    threads.clear();
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

// Guards against the level and keyword switches being ignored or misread.
TEST_F(TraceFile, SwitchesNarrowTheTrace)
{
    if (oxtest::inFreshProcess({mFile, "OX_TRACE_LEVEL=normal", "OX_TRACE_KEYWORDS=doc+Commands"})) {
        std::vector<std::string> writers;
        for (const Json& event : eventsOf(read(mPath)))
            writers.push_back(event["writer"].get<std::string>());
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

// Guards against a crash costing more than its last moment: once an event finds the last write old,
// the file on disk lacks only the closing bracket.
TEST_F(TraceFile, CrashLosesOnlyTheClosingBracket)
{
    if (oxtest::inFreshProcess({mFile}))
        return;
    for (int i = 0; i < 100; ++i)
        PerfLog_WriteSetLispCoroutineStateEvent(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PerfLog_WriteSetLispCoroutineStateEvent(-1);
    const std::string text = read(std::getenv("OX_TRACE_FILE")); // as a crash now would leave it
    ASSERT_TRUE(!text.empty() && text.back() != ']');
    const std::vector<Json> events = eventsOf(text + "]");
    ASSERT_EQ(101u, events.size());
    EXPECT_EQ(-1, events.back()["args"]["State"]);
}

// Guards against a file that cannot be created disturbing the program: other sessions still work.
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
// Guards against a demo trace that does not open, or that shows the command, the document and the
// class lifetime as anything but slices. The demo runs as a copy in a temporary folder, where its
// assertion log and session record go.
TEST_F(TraceFile, DemoTraceHoldsTheTourAsSlices)
{
    std::string folder = ::testing::TempDir() + "oxdemo.XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(folder.data()));
    std::filesystem::copy_file(OXFIRST_TEST_DEMO_PATH, folder + "/oxdemo");
    std::string output;
    const int exitCode =
        oxtest::runProcess(folder + "/oxdemo", {}, {mFile, "OX_NAMED_OBJECT_DIR=" + folder}, &output);
    std::filesystem::remove_all(folder);
    ASSERT_EQ(0, exitCode) << output;
    std::vector<std::string> shape; // of the tour's class, not the class system's own
    for (const Json& event : eventsOf(read(mPath)))
        if (event["name"] != "OxRxClassLifetime" || event["args"]["OxRxClassName"] == "DemoClass")
            shape.push_back(
                event["ph"].get<std::string>() + " " + event["name"].get<std::string>() + " " +
                event["args"].value("data", event["args"].value("Mode", event["args"].value("Command", ""))));
    EXPECT_EQ(
        (std::vector<std::string>{"b OxRxClassLifetime ", "B Command OPEN",
                                  "B OxApDocImpManager-OpenDocumentFile Floor plan.oxd", "i Doc: Lock kWrite",
                                  "i Doc: Unlock ", "E OxApDocImpManager-OpenDocumentFile Floor plan.oxd",
                                  "E Command OPEN", "e OxRxClassLifetime ", "i Assert: Info "}),
        shape);
}
#endif

} // namespace
