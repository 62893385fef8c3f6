// tests/support/FreshProcess.cpp
// The child is this executable (/proc/self/exe) filtered to the one test, with a marker variable
// naming that test; its standard output and error come back through one pipe so that a failure
// shows what the child printed.

#include "support/FreshProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace oxtest {
namespace {

constexpr std::string_view kMarker = "OX_TEST_FRESH_PROCESS";

std::string_view nameOf(std::string_view assignment)
{
    return assignment.substr(0, assignment.find('='));
}

} // namespace

int runProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, std::string* output)
{
    // The current environment without the variables `environment` names, then its assignments.
    std::vector<std::string> strings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        bool replaced = false;
        for (const std::string& change : environment)
            replaced = replaced || nameOf(*entry) == nameOf(change);
        if (!replaced)
            strings.emplace_back(*entry);
    }
    for (const std::string& change : environment)
        if (change.find('=') != std::string::npos)
            strings.push_back(change);
    // One array holds both lists: the environment, null, then the program and its arguments, null.
    const std::size_t environmentCount = strings.size();
    strings.push_back(program);
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.insert(pointers.begin() + static_cast<std::ptrdiff_t>(environmentCount), nullptr);
    pointers.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t child = 0;
    const int spawnError = posix_spawn(&child, program.c_str(), &actions, nullptr,
                                       &pointers[environmentCount + 1], pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            output->append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(fds[0]);
    int status = 0;
    if (spawnError != 0)
        return -1;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool inFreshProcess(std::initializer_list<std::string_view> environment)
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    if (const char* marker = std::getenv(std::string(kMarker).c_str()); marker != nullptr && name == marker)
        return false;

    std::vector<std::string> changes(environment.begin(), environment.end());
    changes.push_back(std::string(kMarker) + "=" + name);
    std::string output;
    const bool passed = runProcess("/proc/self/exe", {"--gtest_filter=" + name}, changes, &output) == 0 &&
                        output.find("[       OK ] " + name) != std::string::npos;
    EXPECT_TRUE(passed) << "the fresh process for " << name << " did not pass it; it printed:\n" << output;
    return true;
}

} // namespace oxtest
