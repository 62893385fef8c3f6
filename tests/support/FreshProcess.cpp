// tests/support/FreshProcess.cpp
// The child is this executable (/proc/self/exe) filtered to the one test, with a marker variable
// naming that test; its standard output and error come back through one pipe so that a failure
// shows what the child printed.

#include "support/FreshProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace oxtest {
namespace {

constexpr std::string_view kMarker = "OX_TEST_FRESH_PROCESS=";

std::string currentTestName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

std::string_view nameOf(std::string_view assignment)
{
    return assignment.substr(0, assignment.find('='));
}

// The current environment without the variables `overrides` names, then the assignments among
// `overrides`.
std::vector<std::string> childEnvironment(const std::vector<std::string>& overrides)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        bool replaced = false;
        for (const std::string& o : overrides)
            replaced = replaced || nameOf(*entry) == nameOf(o);
        if (!replaced)
            result.emplace_back(*entry);
    }
    for (const std::string& o : overrides)
        if (o.find('=') != std::string::npos)
            result.push_back(o);
    return result;
}

} // namespace

bool inFreshProcess(std::initializer_list<std::string_view> environment)
{
    const std::string name = currentTestName();
    if (const char* marker = std::getenv(std::string(nameOf(kMarker)).c_str());
        marker != nullptr && name == marker)
        return false;

    std::vector<std::string> overrides(environment.begin(), environment.end());
    overrides.push_back(std::string(kMarker) + name);
    std::vector<std::string> env = childEnvironment(overrides);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = "/proc/self/exe";
    std::string filter = "--gtest_filter=" + name;
    char* argv[] = {exe.data(), filter.data(), nullptr};

    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return true;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t child = 0;
    const int spawnError = posix_spawn(&child, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);

    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            output.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(fds[0]);
    if (spawnError != 0) {
        ADD_FAILURE() << "posix_spawn: " << std::strerror(spawnError);
        return true;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const bool passed = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                        output.find("[       OK ] " + name) != std::string::npos;
    EXPECT_TRUE(passed) << "the fresh process for " << name << " did not pass it; it printed:\n" << output;
    return true;
}

} // namespace oxtest
