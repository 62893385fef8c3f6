// tests/startup/StartupTest.cpp
// Start-up as hosts see it. Names, switches and the checks of a process without the host core
// module run here; everything that needs the host core module, whole processes or several of them
// runs the stand-in host (StartupChild.cpp), whose named objects live in a temporary folder.

#include <oxfirst/OxStartup.h>

#include "platform/TestControls.h"
#include "startup/Startup.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A temporary folder, removed with everything in it.
struct TemporaryFolder {
    TemporaryFolder()
    {
        std::string name = (fs::temp_directory_path() / "oxstartup.XXXXXX").string();
        path = ::mkdtemp(name.data());
    }
    ~TemporaryFolder() { fs::remove_all(path); }
    fs::path path;
};

// A running stand-in host. Its input stays open until finish(), so it keeps its session slot.
class Child {
public:
    Child(const fs::path& objects, std::vector<std::string> environment,
          std::vector<std::string> arguments = {})
    {
        // env(1) applies the assignments and runs the host.
        std::vector<char*> argv{const_cast<char*>("env")};
        environment.push_back("OX_NAMED_OBJECT_DIR=" + objects.string());
        environment.push_back(OXFIRST_TEST_CHILD_PATH);
        for (std::vector<std::string>* strings : {&environment, &arguments})
            for (std::string& s : *strings)
                argv.push_back(s.data());
        argv.push_back(nullptr);
        int input[2], output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        if (posix_spawn(&mPid, "/usr/bin/env", &actions, nullptr, argv.data(), environ) != 0)
            mPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        mIn = input[1];
        mOut = output[0];
    }
    ~Child() { kill(); }

    // The output up to its "session" line, or all of it when the child ends before printing one.
    const std::string& untilSession()
    {
        while (output.find("session ") == std::string::npos && readSome()) {
        }
        return output;
    }
    // Lets the child end; its exit code, -1 when it did not exit by itself.
    int finish()
    {
        closeInput();
        while (readSome()) {
        }
        return wait();
    }
    void kill()
    {
        if (mPid > 0) // never -1, which would signal every process of the user
            ::kill(mPid, SIGKILL);
        closeInput();
        wait();
    }
    // The session number the child printed; -1 when it printed none.
    int session()
    {
        const std::size_t at = untilSession().find("session ");
        return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + 8);
    }

    std::string output;

private:
    // Bounded: a child that prints nothing for a minute is broken, and is killed.
    bool readSome()
    {
        if (mOut < 0)
            return false;
        pollfd ready{mOut, POLLIN, 0};
        char buffer[4096];
        const ssize_t n = ::poll(&ready, 1, 60000) == 1 ? ::read(mOut, buffer, sizeof buffer) : -1;
        if (n > 0)
            output.append(buffer, static_cast<std::size_t>(n));
        if (n < 0 && mPid > 0)
            ::kill(mPid, SIGKILL);
        return n > 0;
    }
    void closeInput()
    {
        if (mIn >= 0)
            ::close(mIn);
        mIn = -1;
    }
    int wait()
    {
        int status = 0;
        if (mPid <= 0 || ::waitpid(mPid, &status, 0) != mPid)
            return -1;
        ::close(mOut);
        mOut = -1;
        mPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t mPid = -1;
    int mIn = -1;
    int mOut = -1;
};

// What a stand-in host printed, then "exit <code>" (-1 when it did not exit by itself).
std::string runChild(const fs::path& objects, std::vector<std::string> environment,
                     std::vector<std::string> arguments = {})
{
    Child child(objects, std::move(environment), std::move(arguments));
    const int exitCode = child.finish();
    return child.output + "exit " + std::to_string(exitCode);
}

// Guards against names split at the wrong separator or dot, and against a process without the
// host core module comparing its name or claiming a slot.
TEST(StartupNames, WithoutTheHostCoreTheyComeFromThePath)
{
    OXCHAR *product = nullptr, *program = nullptr;
    oxstartup::namesFromPath(u"C:\\apps\\tool.beta.exe", &product, &program);
    EXPECT_EQ(u"tool.beta.exe", std::u16string(product));
    EXPECT_EQ(u"tool", std::u16string(program));
    std::free(product);
    std::free(program);

    EXPECT_TRUE(oxstartup::gNamesOwned);
    EXPECT_EQ(u"startup_tests", std::u16string(oxstartup::gpProgramName));
    doOxFirstStartupChecks();
    EXPECT_EQ(33, GetCurrentSessionNumber());
}

// Guards against a switch matched by prefix or without case, or found inside another word.
TEST(StartupSwitches, EmbeddingIsAWholeWordWithItsCase)
{
    const std::pair<const OXCHAR*, bool> cases[] = {
        {u"app.exe /Embedding", true},
        {u"app.exe -Embedding -x", true},
        {u"app.exe\t-Embedding\t", true},
        {u"app.exe -EmbeddingX", false},
        {u"app.exe -embedding", false},
        {u"app.exe x-Embedding", false},
        {u"", false},
    };
    for (auto [line, expected] : cases) {
        win::test::setCommandLine(line);
        EXPECT_EQ(expected, oxstartup::isEmbeddingLaunch())
            << std::string(line, line + std::char_traits<char16_t>::length(line));
    }
    win::test::setCommandLine(nullptr);
}

// Guards against the date check asking when the year is in range, choosing the wrong text,
// ending the process on Yes or on a box that could not be shown, or asking on an embedding
// launch; a year set back must keep the month and day.
TEST(StartupChecks, ImplausibleDatesAreSetBackTo1998)
{
    TemporaryFolder objects;
    struct Case {
        const char* start;
        const char* answers;
        std::vector<std::string> arguments;
        std::string box;  // the message's text id, as its text starts
        const char* year; // the year line, or null when the process must end
    } cases[] = {
        {"2037-12-31 23:59:00", "", {}, "", "year 2037 12/31"},
        {"2038-01-05", "yes", {}, "late", "year 1998 1/5"},
        {"1960-03-01", "", {}, "early", "year 1998 3/1"},
        {"2038-01-05", "no", {}, "late", nullptr},
        {"1960-03-01", "", {"-Embedding"}, "", "year 1998 3/1"},
    };
    for (const Case& c : cases) {
        const std::string output =
            runChild(objects.path,
                     {std::string("OX_LOCAL_TIME=") + c.start, std::string("OX_TEST_ANSWERS=") + c.answers},
                     c.arguments);
        const std::string box =
            c.box.empty() ? "" : "box OxFirst Test|" + c.box + " OxFirst Test OxFirst Test 1998\n";
        EXPECT_TRUE(
            output.starts_with(box + (c.year != nullptr ? "session 1\n" + std::string(c.year) : "exit 0")))
            << c.start << ": " << output;
    }
}

// Guards against a renamed executable passing unasked, a program name compared with case, and an
// answer other than Yes letting the process go on.
TEST(StartupChecks, ARenamedExecutableAsks)
{
    TemporaryFolder objects;
    EXPECT_TRUE(runChild(objects.path, {"OX_TEST_PROGRAM=OXCHILD"}).starts_with("session 1\n"));
    const std::string box = "box OxFirst Test|renamed OxFirst Test tool oxchild\n";
    EXPECT_TRUE(runChild(objects.path, {"OX_TEST_PROGRAM=tool", "OX_TEST_ANSWERS=yes"})
                    .starts_with(box + "session 1\n"));
    EXPECT_EQ(box + "exit 0", runChild(objects.path, {"OX_TEST_PROGRAM=tool", "OX_TEST_ANSWERS=no"}));
}

// Guards against PATH losing its separators or other entries, a quoted entry split at a
// separator inside its quotes, and PATH being rewritten when nothing was dropped.
TEST(StartupChecks, PathLosesTheDirectoriesOfTheGraphicsModule)
{
    TemporaryFolder folder;
    const std::string a = (folder.path / "a").string(), b = (folder.path / "b").string(),
                      c = (folder.path / "c:d").string();
    for (const auto& [directory, module] : {std::pair{b, "oxgs.dll"}, std::pair{c, "liboxgs.so"}}) {
        fs::create_directories(directory);
        std::ofstream(directory + "/" + module).put('x');
    }
    fs::create_directories(a);
    const std::pair<std::string, std::string> cases[] = {
        {a + ":" + b, a + ":"},
        {"::" + b + "::" + a, "::::" + a},
        {a + ":\"" + c + "\":" + a, a + "::" + a},
        {a + "::" + a, a + "::" + a},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_NE(std::string::npos, runChild(folder.path, {"PATH=" + path}).find("path " + expected + "\n"))
            << path;
}

// Guards against two concurrent instances sharing a slot, a 33rd instance running on without
// the message, and slots or objects left behind by instances that ended.
TEST(SessionSlots, FortyConcurrentInstancesGetThirtyTwoSlots)
{
    TemporaryFolder objects;
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 40; ++i)
        children.push_back(std::make_unique<Child>(objects.path, std::vector<std::string>{}));
    std::set<int> sessions;
    int refused = 0;
    for (auto& child : children) {
        const std::string& output = child->untilSession();
        if (output == "box OxFirst Test|all slots of OxFirst Test taken\n")
            ++refused;
        else
            sessions.insert(child->session());
    }
    EXPECT_EQ(8, refused);
    EXPECT_EQ(32u, sessions.size());
    EXPECT_EQ(1, *sessions.begin());
    EXPECT_EQ(32, *sessions.rbegin());
    for (auto& child : children)
        EXPECT_EQ(0, child->finish());
    Child next(objects.path, {});
    EXPECT_EQ(1, next.session());
    EXPECT_EQ(0, next.finish());
    EXPECT_TRUE(fs::is_empty(objects.path));
}

// Guards against the record of killed instances outliving them: with every holder gone, the
// next instance finds a new record.
TEST(SessionSlots, KilledInstancesFreeTheirSlots)
{
    TemporaryFolder objects;
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 1; i <= 3; ++i) {
        children.push_back(std::make_unique<Child>(objects.path, std::vector<std::string>{}));
        EXPECT_EQ(i, children.back()->session());
    }
    Child survivor(objects.path, {});
    EXPECT_EQ(4, survivor.session());
    children[1]->kill(); // its bit stays while others hold the record, as on Windows
    EXPECT_EQ(5, Child(objects.path, {}).session());
    for (auto& child : children)
        child->kill();
    survivor.kill();
    EXPECT_EQ(1, Child(objects.path, {}).session());
}

// Guards against a damaged record being trusted beyond what it holds: a full mask refuses the
// instance, an unterminated path is never read, a record of another size is not mapped.
TEST(SessionSlots, ADamagedRecordIsReadSafely)
{
    TemporaryFolder objects;
    win::test::setNamedObjectDirectory(objects.path.c_str());
    win::HANDLE record = win::CreateFileMappingW(win::INVALID_HANDLE_VALUE, nullptr, win::PAGE_READWRITE, 0,
                                                 2048, u"oxchild16_session_mem");
    auto* words = static_cast<std::uint32_t*>(win::MapViewOfFile(record, win::FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(nullptr, words);
    std::fill(words, words + 512, 0xFFFFFFFFu);
    EXPECT_EQ("box OxFirst Test|all slots of OxFirst Test taken\nexit 0", runChild(objects.path, {}));
    words[0] = ~(1u << 5);
    EXPECT_EQ(6, Child(objects.path, {}).session());
    win::UnmapViewOfFile(words);
    win::CloseHandle(record);

    record = win::CreateFileMappingW(win::INVALID_HANDLE_VALUE, nullptr, win::PAGE_READWRITE, 0, 16,
                                     u"oxchild16_session_mem");
    EXPECT_EQ(33, Child(objects.path, {}).session());
    win::CloseHandle(record);
}

} // namespace
