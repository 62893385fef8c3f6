// tests/diagnostics/AssertionsTest.cpp
// Assertion reports. A report writes next to the executable, so the report cases run in a copy
// of this executable placed in a temporary folder, each in a process of its own.

#include <oxfirst/OxAssert.h>
#include <oxfirst/OxRxCallbacks.h>

#include "diagnostics/AssertionsInternal.h"
#include "diagnostics/PerfManifest.h"
#include "platform/TestControls.h"
#include "support/FreshProcess.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// In the test's own process: runs the test in a copy of this executable named "run.exe" in a
// temporary folder, checks that it passed, and answers true. In the copy: answers false.
bool inTemporaryCopy()
{
    if (std::getenv("OX_TEST_IN_COPY") != nullptr)
        return false;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::string folder = (fs::temp_directory_path() / "oxassert.XXXXXX").string();
    ::mkdtemp(folder.data());
    fs::copy_file("/proc/self/exe", folder + "/run.exe");
    std::string output;
    const int exitCode =
        oxtest::runProcess(folder + "/run.exe", {"--gtest_filter=" + name}, {"OX_TEST_IN_COPY=1"}, &output);
    EXPECT_TRUE(exitCode == 0 && output.find("[       OK ] " + name) != std::string::npos) << output;
    fs::remove_all(folder);
    return true;
}

// What the responder saw and how it answers: one answer per box, Shift held for those marked.
struct Boxes {
    std::vector<std::u16string> texts;
    std::vector<std::pair<int, bool>> answers;
    bool nestedReportDropped = true;
};

int respond(const OXCHAR* text, const OXCHAR* caption, win::UINT type, void* context)
{
    auto& boxes = *static_cast<Boxes*>(context);
    EXPECT_EQ(std::u16string(u"ASSERT Error.  Shift-Ignore to suppress"), caption);
    EXPECT_EQ(0x2012u, type);
    // A report from inside the box is dropped whole: it would otherwise log and show a box.
    const std::size_t boxesBefore = boxes.texts.size();
    EXPECT_TRUE(oxutAssertActive());
    oxutAssertMessage(u"nested", u"box.cpp", 1, nullptr);
    boxes.nestedReportDropped = boxes.nestedReportDropped && boxes.texts.size() == boxesBefore;
    boxes.texts.emplace_back(text);
    const auto [answer, shift] = boxes.answers.at(boxes.texts.size() - 1);
    win::test::setShiftKeyDown(shift);
    return answer;
}

// Guards against a report logged or shown twice, a silenced line still shown (or lines of other
// files not silenced), a switched-off dialog still showing or writing the event, the quit message
// swallowed by the box, the log record's fields or time format drifting, and a failed box not
// ending in the fatal report.
TEST(Assertions, ReportsAreLoggedShownAndSilencedOnce)
{
    if (inTemporaryCopy())
        return;
    Boxes boxes{{}, {{win::IDIGNORE, true}, {win::IDIGNORE, false}, {0, false}}};
    win::test::setMessageBoxResponder(&respond, &boxes);
    TraceRecorder events(oxperf::kProviderId);
    const win::SYSTEMTIME morning{2014, 2, 0, 3, 9, 5, 0, 0};
    ASSERT_TRUE(win::SetLocalTime(&morning));
    ASSERT_TRUE(win::PostMessageW(nullptr, win::WM_QUIT, 7, 8));

    oxutAssertMessage(u"x > 0", u"a.cpp", 120, u"bad");
    oxutAssertMessage(u"y", u"b.cpp", 120, nullptr); // silenced by the Shift-Ignore above
    oxutAssertDia();
    oxutAssertMessage(nullptr, nullptr, 7, nullptr);
    oxutAssertDia();
    oxutAssertMessage(u"z", u"c.cpp", 8, nullptr); // Ignore without Shift: line 8 stays shown
    static std::u16string fatal;
    OxRxTypeSysCallbacks::setCallback_fatalError([](const OXCHAR* message) { fatal = message; });
    oxutAssertMessage(u"z", u"c.cpp", 8, nullptr); // the box fails: the fatal report
    EXPECT_EQ(u"!", fatal);                        // no formatter installed: the report's text stays empty

    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    const std::u16string wideExe(exe.begin(), exe.end());
    ASSERT_EQ(3u, boxes.texts.size());
    EXPECT_EQ(u"Failed:  x > 0.\nStatus:  bad.\nModule:  " + wideExe + u".\nFile: \"a.cpp\".  Line: 120.",
              boxes.texts[0]);
    EXPECT_EQ(u"Failed:  z.\nModule:  " + wideExe + u".\nFile: \"c.cpp\".  Line: 8.", boxes.texts[1]);
    EXPECT_TRUE(boxes.nestedReportDropped);
    EXPECT_EQ(3u, events.events().size());
    EXPECT_EQ(wideBytes(boxes.texts[0]), events.events().at(0).fields.at(0));
    win::MSG quit{};
    EXPECT_TRUE(win::PeekMessageW(&quit, nullptr, 0, 0, win::PM_REMOVE) && quit.message == win::WM_QUIT &&
                quit.wParam == 7 && quit.lParam == 8);

    std::ostringstream logFile;
    logFile << std::ifstream(fs::path(exe).replace_extension(".err")).rdbuf();
    const std::string log = logFile.str();
    const std::string first =
        "Condition: x > 0\nStatus: bad\nModule: " + exe + "\nFile: a.cpp\nLine: 120\n-------------\n";
    EXPECT_EQ(0u, log.find("Assert failure at 9:05:0")) << log;
    EXPECT_EQ(" on 2/03/2014\n" + first, log.substr(25, 14 + first.size()));
    for (const char* record :
         {"Condition: y\nModule: ", "Condition: (null)\nModule: ", "File: (null)\nLine: 7\n"})
        EXPECT_NE(std::string::npos, log.find(record)) << record;
    EXPECT_EQ(5, [&] {
        int n = 0;
        for (std::size_t at = 0; (at = log.find("-------------\n", at)) != std::string::npos; ++at)
            ++n;
        return n;
    }());
}

// Guards against the silenced lines overflowing their 50 places, or a 51st line taking one.
TEST(Assertions, FiftyLinesAtMostAreSilenced)
{
    if (inTemporaryCopy())
        return;
    Boxes boxes;
    boxes.answers.assign(53, {win::IDIGNORE, true});
    win::test::setMessageBoxResponder(&respond, &boxes);
    for (int line = 1; line <= 51; ++line)
        oxutAssertMessage(u"c", u"f.cpp", line, nullptr);
    oxutAssertMessage(u"c", u"f.cpp", 50, nullptr);
    oxutAssertMessage(u"c", u"f.cpp", 51, nullptr);
    EXPECT_EQ(52u, boxes.texts.size());
}

// Guards against the extension found in a directory name, a long path written past the log
// path's buffer, and a missing executable path giving no log at all.
TEST(AssertionLog, PathReplacesTheExtension)
{
    const std::u16string longPath = u"/" + std::u16string(300, u'x') + u".exe";
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\app\\run.exe", u"C:\\app\\run.err"},
        {u"/a.b/run", u"/a.b/run.err"},
        {u"", u"assert.err"},
        {longPath, longPath.substr(0, 259) + u".err"},
        {longPath.substr(longPath.size() - 259), longPath.substr(longPath.size() - 259, 255) + u".err"},
    };
    for (const auto& [exe, expected] : cases) {
        OXCHAR path[oxdiag::kAssertLogPathCapacity];
        EXPECT_EQ(expected.size(), oxdiag::assertLogPath(exe.c_str(), path));
        EXPECT_EQ(expected, path);
    }
}

} // namespace
