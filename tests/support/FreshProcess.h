// tests/support/FreshProcess.h
// Runs a test's body in a fresh process of the test executable, for what a process decides once.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace oxtest {

/// Call first in a test body: `if (inFreshProcess({"NAME=value"})) return;`. In the test's own
/// process it reruns the test in a child with `environment` applied ("NAME=value" sets, "NAME"
/// removes), answers true and fails unless the child ran and passed it; in the child it answers false.
bool inFreshProcess(std::initializer_list<std::string_view> environment = {});

/// Runs `program` with `arguments` and the environment changed as above, appends what it printed
/// to `*output` and returns its exit code, or -1 when it did not start or did not exit.
int runProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, std::string* output);

} // namespace oxtest
