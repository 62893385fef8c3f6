// tests/diagnostics/TraceFileTest.cpp
// The trace file, which only exists across processes: the writer suites run in processes that
// ctest starts with OX_TRACE_FILE (and level and keyword switches) set, the demo leaves a trace
// the same way, and the check suite, run after them with OX_TRACE_CHECK_DIR, reads every file
// back with a strict JSON reader. Outside those processes each suite skips itself; in them a
// skip fails the ctest entry (see tests/CMakeLists.txt).

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/JsonChecker.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kThreads = 4;
constexpr int kCommandsPerThread = 100;
constexpr std::size_t kLongTextLength = 20000;
const auto* const kLifetimeClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0xC1A55});

const OXCHAR kTrickyCommand[] = u"quote\" back\\ tab\t nl\n ctl\x01 smile\U0001F600 lone\xD800 end";
const char kTrickyCommandUtf8[] =
    "quote\" back\\ tab\t nl\n ctl\x01 smile\xF0\x9F\x98\x80 lone\xEF\xBF\xBD end";

// ---------------------------------------------------------------------------------------------
// Writers: each runs in a process of its own and leaves its file for the checks.

class TraceFileWriter : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("OX_TRACE_FILE") == nullptr)
            GTEST_SKIP() << "runs in its own process with OX_TRACE_FILE set";
    }
};

// Everything the file must render: nesting, maps, awkward texts, threads, lifetimes, a long
// text. The process also has unparseable OX_TRACE_LEVEL and OX_TRACE_KEYWORDS, so every event
// must still be recorded.
TEST_F(TraceFileWriter, Everything)
{
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

    // A forked child writes through the inherited session and ends normally: neither its event
    // nor a second closing bracket may reach the parent's file.
    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        PerfLog_WriteCommandFailedEvent(u"child");
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Only what the level and keyword switches admit reaches the file.
TEST_F(TraceFileWriter, Filtered)
{
    PerfLog_WriteStartCommandEvent(u"A");              // 15: minimal, Startup+Commands
    PerfLog_WriteInvokeCommandEvent(u"", 0);           // 200: detailed
    PerfLog_WriteDocLockEvent(nullptr, 0, u"", false); // 42: normal, Commands+Doc
    PerfLog_WriteStartDocEvent(nullptr);               // 206: detailed
    PerfLog_WriteReadDrawingEvent(u"", true);          // 1: normal, no keyword
    PerfLog_WriteAssertEvent(u"assert");               // 45: error, Startup+Commands
    PerfLog_WriteDeviceUpdateEvent(true);              // 74: normal, GsPerformance
    PerfLog_WriteEndCommandEvent(u"A");                // 16: minimal, Startup+Commands off the channel
}

// A process that ends without exit processing leaves every event but those of its last moment.
TEST_F(TraceFileWriter, EndsAbruptly)
{
    for (int i = 0; i < 100; ++i)
        PerfLog_WriteSetLispCoroutineStateEvent(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PerfLog_WriteSetLispCoroutineStateEvent(-1); // finds the last write old: everything goes out
    std::fflush(stdout);
    ::_exit(0);
}

// A file that cannot be created leaves the program without a trace and otherwise unchanged.
TEST_F(TraceFileWriter, PathCannotBeWritten)
{
    EXPECT_FALSE(PerfLog_IsInvokeCommandEventEnabled()) << "no session of the library's own runs";
    TraceRecorder session(oxperf::kProviderId);
    PerfLog_WriteStartCommandEvent(u"A");
    PerfLog_WriteEndCommandEvent(u"A");
    EXPECT_EQ((std::vector<unsigned>{15, 16}), session.ids());
}

// ---------------------------------------------------------------------------------------------
// Checks

class TraceFileCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* directory = std::getenv("OX_TRACE_CHECK_DIR");
        if (directory == nullptr)
            GTEST_SKIP() << "runs after the trace writers, with OX_TRACE_CHECK_DIR set";
        mDirectory = directory;
    }

    std::string read(const std::string& name)
    {
        std::ostringstream text;
        text << std::ifstream(mDirectory + "/" + name, std::ios::binary).rdbuf();
        return text.str();
    }

    // The trace's events, after checking the whole file is one strict JSON array of event objects
    // that each carry a name, a phase, a time, a process and a thread; and that every begin slice
    // of a thread ends on that thread under the same name, innermost first, and a thread's times
    // never go back.
    std::vector<JsonValue> load(const std::string& name, bool closed = true)
    {
        std::string text = read(name);
        EXPECT_FALSE(text.empty()) << name;
        std::string error;
        std::optional<JsonValue> trace = parseJson(closed ? text : text + "]", &error);
        EXPECT_TRUE(trace.has_value()) << name << ": " << error;
        if (!trace || trace->kind != JsonValue::Kind::kArray)
            return {};
        std::map<double, std::vector<std::string>> open;
        std::map<double, double> lastTime;
        for (const JsonValue& event : trace->items) {
            EXPECT_EQ(JsonValue::Kind::kObject, event.kind);
            EXPECT_FALSE(event.stringAt("name").empty() || event.stringAt("ph").empty());
            for (const char* key : {"ts", "pid", "tid"})
                EXPECT_TRUE(event.find(key) != nullptr && event.find(key)->kind == JsonValue::Kind::kNumber)
                    << key;
            EXPECT_NE(nullptr, event.find("args"));
            if (event.find("tid") == nullptr || event.find("ts") == nullptr || event.find("args") == nullptr)
                return {};
            const double tid = event.find("tid")->number, ts = event.find("ts")->number;
            EXPECT_GE(ts, lastTime[tid]);
            lastTime[tid] = ts;
            if (event.stringAt("ph") == "B") {
                open[tid].push_back(event.stringAt("name"));
            } else if (event.stringAt("ph") == "E") {
                EXPECT_EQ(open[tid].empty() ? "(no begin)" : open[tid].back(), event.stringAt("name"));
                if (!open[tid].empty())
                    open[tid].pop_back();
            }
        }
        for (const auto& [tid, names] : open)
            EXPECT_TRUE(names.empty()) << names.size() << " slices left open on thread " << tid;
        return trace->items;
    }

    static unsigned idOf(const JsonValue& event)
    {
        return static_cast<unsigned>(args(event).find("event")->number);
    }
    static const JsonValue& args(const JsonValue& event) { return *event.find("args"); }

    std::string mDirectory;
};

// Guards against a demo trace that does not open, or that shows the command, the document and
// the class lifetime as anything but slices.
TEST_F(TraceFileCheck, DemoTraceHoldsTheTourAsSlices)
{
    // The class system's own classes come and go around the tour: only the tour's class counts.
    std::vector<JsonValue> events;
    std::vector<std::string> shape;
    for (const JsonValue& event : load("demo.json")) {
        if ((idOf(event) == 37 || idOf(event) == 38) && args(event).stringAt("OxRxClassName") != "DemoClass")
            continue;
        events.push_back(event);
        shape.push_back(event.stringAt("ph") + " " + event.stringAt("name"));
    }
    EXPECT_EQ(
        (std::vector<std::string>{"b OxRxClassLifetime", "B Command", "B OxApDocImpManager-OpenDocumentFile",
                                  "i Doc: Lock", "i Doc: Unlock", "E OxApDocImpManager-OpenDocumentFile",
                                  "E Command", "e OxRxClassLifetime"}),
        shape);
    ASSERT_EQ(8u, events.size());
    EXPECT_EQ("OPEN", args(events[1]).stringAt("Command"));
    EXPECT_EQ("Floor plan.oxd", args(events[2]).stringAt("data"));
    EXPECT_EQ("kWrite", args(events[3]).stringAt("Mode"));
    EXPECT_EQ(events[0].stringAt("id"), events[7].stringAt("id"));
}

// Guards against escapes that break the JSON, texts that lose characters, map values shown as
// bare numbers, threads' slices interleaving, unparseable switches narrowing the trace, and a forked
// child writing into its parent's file.
TEST_F(TraceFileCheck, EverythingIsRenderedFaithfully)
{
    std::map<unsigned, std::vector<const JsonValue*>> byId;
    const std::vector<JsonValue> events = load("everything.json");
    for (const JsonValue& event : events)
        byId[idOf(event)].push_back(&event);
    // 105 is of the diagnostic level, 46 has no keyword, 203 is the forked child's.
    for (unsigned id : {82, 200, 114, 164, 165, 45, 105, 46, 37, 38})
        ASSERT_EQ(1u, byId[id].size()) << "event " << id;
    ASSERT_EQ(2u, byId[42].size());
    ASSERT_EQ(3u, byId[85].size());
    EXPECT_EQ(0u, byId[203].size());
    const auto argsOf = [&byId](unsigned id, std::size_t n = 0) -> const JsonValue& {
        return args(*byId[id][n]);
    };

    EXPECT_EQ("kRead", argsOf(42).stringAt("Mode"));
    EXPECT_EQ("", argsOf(42).stringAt("Command"));
    EXPECT_TRUE(argsOf(42).find("Force")->kind == JsonValue::Kind::kBool &&
                argsOf(42).find("Force")->boolean);
    EXPECT_EQ(3, argsOf(42, 1).find("Mode")->number) << "a value the map does not name stays a number";
    EXPECT_EQ("DeviceUpdate: StartModel", byId[82][0]->stringAt("name"));
    EXPECT_EQ("kContrast", argsOf(82).stringAt("RenderType"));
    EXPECT_EQ("RetraversePending | HasPackets", argsOf(85).stringAt("Reason"));
    EXPECT_EQ("TraverseAlways", argsOf(85, 1).stringAt("Reason"));
    EXPECT_EQ("RetraversePending | 0x8", argsOf(85, 2).stringAt("Reason"));
    EXPECT_EQ(kTrickyCommandUtf8, argsOf(200).stringAt("Parameters"));
    EXPECT_EQ(-7, argsOf(200).find("Ilk")->number);
    EXPECT_EQ("caf\xC3\xA9", argsOf(114).stringAt("Name"));
    EXPECT_EQ("", argsOf(164).stringAt("name"));
    EXPECT_TRUE(argsOf(164).find("flag")->boolean);
    EXPECT_EQ("B", byId[164][0]->stringAt("ph"));
    EXPECT_EQ("E", byId[165][0]->stringAt("ph"));
    EXPECT_EQ(std::string(kLongTextLength, 'x'), argsOf(45).stringAt("Message"));

    // The lifetime ends on another thread: an async pair joined by the class's address.
    EXPECT_EQ("b", byId[37][0]->stringAt("ph"));
    EXPECT_EQ("e", byId[38][0]->stringAt("ph"));
    EXPECT_EQ("0xc1a55", byId[37][0]->stringAt("id"));
    EXPECT_EQ("0xc1a55", byId[38][0]->stringAt("id"));
    EXPECT_NE(byId[37][0]->find("tid")->number, byId[38][0]->find("tid")->number);

    // One command slice per thread and iteration, each on its thread's own track.
    std::map<std::string, std::set<double>> threadsByName;
    for (const JsonValue* start : byId[15])
        threadsByName[args(*start).stringAt("Command")].insert(start->find("tid")->number);
    EXPECT_EQ(static_cast<std::size_t>(kThreads * kCommandsPerThread + 1), byId[15].size());
    EXPECT_EQ(byId[15].size(), byId[16].size());
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(1u, threadsByName["T" + std::to_string(t)].size());
}

// Guards against the level and keyword switches being ignored or misread.
TEST_F(TraceFileCheck, SwitchesNarrowTheTrace)
{
    std::vector<unsigned> ids;
    for (const JsonValue& event : load("filtered.json"))
        ids.push_back(idOf(event));
    EXPECT_EQ((std::vector<unsigned>{15, 42, 45, 16}), ids);
}

// Guards against a crash costing more than its last moment: the unfinished file lacks only the
// closing bracket and holds every event written before the last flush.
TEST_F(TraceFileCheck, AbruptEndLosesOnlyTheClosingBracket)
{
    const std::string text = read("abrupt.json");
    ASSERT_FALSE(text.empty());
    EXPECT_NE(']', text.back());
    const std::vector<JsonValue> events = load("abrupt.json", /*closed*/ false);
    ASSERT_EQ(101u, events.size());
    EXPECT_EQ(-1, args(events.back()).find("State")->number);
}

// ---------------------------------------------------------------------------------------------

// Guards against the checker itself being lenient: every other check above relies on it
// refusing what strict JSON forbids.
TEST(JsonChecker, AcceptsStrictJsonAndRefusesTheRest)
{
    const std::optional<JsonValue> value =
        parseJson(R"( {"a":[1,-0.5e+3,true,null,"\u00e9\ud83d\ude00\n"],"b":{}} )");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(-500, value->find("a")->items[1].number);
    EXPECT_EQ("\xC3\xA9\xF0\x9F\x98\x80\n", value->find("a")->items[4].text);

    for (const char* bad : {"[1,]",
                            "{\"a\":1,}",
                            "[01]",
                            "[1.]",
                            "[.5]",
                            "[- 1]",
                            "[\"\x01\"]",
                            "[\"\\x\"]",
                            "[\"\\ud800\"]",
                            "[\"\\udc00\"]",
                            "[\"\xC0\xAF\"]",
                            "[\"\xED\xA0\x80\"]",
                            "[\"\xFF\"]",
                            "[\"\xE2\x82\"]",
                            "{\"a\":1,\"a\":2}",
                            "[1] [2]",
                            "[",
                            "",
                            "[true false]",
                            "{'a':1}",
                            "[NaN]",
                            "// c\n[]"})
        EXPECT_FALSE(parseJson(bad).has_value()) << bad;
}

} // namespace
