// tests/support/FreshProcess.h
// Tests of what a process decides once (at load, from its environment, or by tearing something
// down for good) run their body in a fresh process of the test executable. The test itself
// starts that process and judges it, so it checks the same thing whether it runs alone or in
// the whole suite, and a body that did not run counts as a failure, never as a pass.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace oxtest {

/// Call first in a test body: `if (inFreshProcess({"NAME=value"})) return;`.
/// In the test's own process it runs this test again in a new process of this executable with
/// `environment` applied to the current one ("NAME=value" sets a variable, a bare "NAME" removes
/// it), waits for it and records a failure (with the child's output) unless the child ran the
/// test and passed it; it then answers true. Inside that child it answers false, so the body
/// runs there.
bool inFreshProcess(std::initializer_list<std::string_view> environment = {});

/// Runs `program` with `arguments` and the current environment changed by `environment` (as
/// above), waits for it and returns its exit code, or -1 when it did not start or did not exit.
/// What it printed on standard output and error is appended to `*output`.
int runProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, std::string* output);

} // namespace oxtest
