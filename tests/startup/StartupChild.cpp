// tests/startup/StartupChild.cpp
// A host that runs the start-up checks as a real one does, for the tests that need whole
// processes. It links the host core and database stand-ins, so the library names it from the
// host core module at load. Each box is printed as "box <title>|<text>" and answered with the
// next word of OX_TEST_ANSWERS ("yes,no": IDYES, then IDNO; 0 once they run out). After the
// checks it prints its session number, year and PATH, then waits for its input to close.

#include <oxfirst/OxStartup.h>

#include "platform/TestControls.h"
#include "startup/Startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

std::string narrow(const OXCHAR* text)
{
    std::string out;
    for (; *text != 0; ++text)
        out += static_cast<char>(*text);
    return out;
}

int answer(const OXCHAR* text, const OXCHAR* title, win::UINT, void*)
{
    static int asked = 0;
    std::printf("box %s|%s\n", narrow(title).c_str(), narrow(text).c_str());
    std::fflush(stdout);
    const char* answers = std::getenv("OX_TEST_ANSWERS");
    std::string words = answers != nullptr ? answers : "";
    for (int i = 0; i < asked && !words.empty(); ++i)
        words = words.find(',') == std::string::npos ? "" : words.substr(words.find(',') + 1);
    ++asked;
    const std::string word = words.substr(0, words.find(','));
    return word == "yes" ? win::IDYES : word == "no" ? win::IDNO : word == "cancel" ? win::IDCANCEL : 0;
}

} // namespace

int main()
{
    static const win::STRING_RESOURCE kTexts[] = {
        {15935, u"%.*s"},
        {15936, u"early %.*s %.*s %d"},
        {15937, u"late %.*s %.*s %d"},
        {15939, u"all slots of %.*s taken"},
        {15940, u"renamed %.*s %.*s %s"},
    };
    win::test::setMessageBoxResponder(&answer, nullptr);
    win::RegisterStringTable(oxstartup::resourceModule(), kTexts, std::size(kTexts));
    doOxFirstStartupChecks();
    win::SYSTEMTIME now;
    win::GetLocalTime(&now);
    const char* path = std::getenv("PATH");
    std::printf("session %d\nyear %d %d/%d\npath %s\n", GetCurrentSessionNumber(), now.wYear, now.wMonth,
                now.wDay, path != nullptr ? path : "");
    std::fflush(stdout);
    for (char c; read(STDIN_FILENO, &c, 1) > 0;) {
    }
    return 0;
}
