// tests/support/FreshProcess.cpp
// The child is this executable (/proc/self/exe) filtered to the one test, with a marker variable
// naming it; its standard output and error come back through one pipe.

#include "support/FreshProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace oxtest {

constexpr char kMarker[] = "OX_TEST_FRESH_PROCESS";
const auto nameOf = [](std::string_view assignment) { return assignment.substr(0, assignment.find('=')); };

int runProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, std::string* output)
{
    // The current environment without the variables `environment` names, then its assignments.
    std::vector<std::string> strings;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::ranges::none_of(environment, [&](auto& change) { return nameOf(change) == nameOf(*entry); }))
            strings.emplace_back(*entry);
    std::ranges::copy_if(environment, std::back_inserter(strings), [](auto& c) { return nameOf(c) != c; });
    const std::size_t environmentCount = strings.size();
    strings.push_back(program);
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers(strings.size() + 2, nullptr); // environment, null, program, arguments, null
    for (std::size_t i = 0; i < strings.size(); ++i)
        pointers[i + (i < environmentCount ? 0 : 1)] = strings[i].data();

    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t child = 0;
    const int spawnError = posix_spawn(&child, program.c_str(), &actions, nullptr,
                                       &pointers[environmentCount + 1], pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        output->append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    close(fds[0]);
    int status = 0;
    while (spawnError == 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return spawnError == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool inFreshProcess(std::initializer_list<std::string_view> environment)
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    if (const char* marker = std::getenv(kMarker); marker != nullptr && name == marker)
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
