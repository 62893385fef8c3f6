// examples/oxdemo/StartupTour.cpp
// Start-up as a host does it, and one assertion report.

#include "Tours.h"

#include <oxfirst/oxfirst.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

void startupTour()
{
    doOxFirstStartupChecks();
    std::printf("Start-up checks passed; this is instance %d of the program in the session\n",
                GetCurrentSessionNumber());
}

void assertionTour()
{
    // Without a desktop a box is answered by OX_MESSAGE_BOX_ANSWER, or at the terminal; the demo
    // answers Ignore unless told otherwise.
    ::setenv("OX_MESSAGE_BOX_ANSWER", "ignore", 0);
    oxutAssertMessage(u"document != nullptr", u"DemoDocument.cpp", 42, u"no document open");

    char exe[PATH_MAX] = {};
    if (::readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0)
        return;
    std::stringstream log;
    log << std::ifstream(std::string(exe) + ".err").rdbuf();
    const std::string text = log.str();
    const std::size_t last = text.rfind("Assert failure at");
    if (last != std::string::npos)
        std::printf("Assertion answered Ignore; it logged to %s.err:\n%s", exe, text.c_str() + last);
}
