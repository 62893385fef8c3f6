// platform/UserInterface.cpp
// Message boxes without a desktop, the Shift key as a switch, and each thread's message queue
// (which only ever carries what the thread posts to itself). A box is answered by a test's
// responder, by OX_MESSAGE_BOX_ANSWER, or by the user at the terminal; with none of these it
// fails, as a box does on Windows when there is no desktop to show it on.

#include "platform/TestControls.h"
#include "platform/Utf16.h"
#include "platform/win.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>

namespace win {
namespace {

constinit std::atomic<bool> gShiftDown{false};
constinit CRITICAL_SECTION gResponderLock{};
constinit test::MessageBoxResponder gResponder = nullptr;
constinit void* gpResponderContext = nullptr;

// The buttons of each box type (the low four bits of the type), by answer.
struct Buttons {
    int answers[3];
};
constexpr Buttons kButtons[] = {
    {{IDOK, 0, 0}},                 // MB_OK
    {{IDOK, IDCANCEL, 0}},          // MB_OKCANCEL
    {{IDABORT, IDRETRY, IDIGNORE}}, // MB_ABORTRETRYIGNORE
    {{IDYES, IDNO, IDCANCEL}},      // MB_YESNOCANCEL
    {{IDYES, IDNO, 0}},             // MB_YESNO
    {{IDRETRY, IDCANCEL, 0}},       // MB_RETRYCANCEL
};
constexpr const char* kAnswerNames[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};

// The answer a word names ("ok" ... "no", or its number), 0 for none.
int answerNamed(const std::string& word)
{
    for (int answer = IDOK; answer <= IDNO; ++answer)
        if (word == kAnswerNames[answer] || word == std::to_string(answer))
            return answer;
    return 0;
}

bool offers(UINT type, int answer)
{
    const UINT buttons = type & 0xF;
    if (buttons >= std::size(kButtons))
        return false;
    for (int offered : kButtons[buttons].answers)
        if (offered != 0 && offered == answer)
            return true;
    return false;
}

std::string narrow(LPCWSTR text)
{
    std::string out(detail::utf16ToUtf8(text, nullptr, 0), '\0');
    detail::utf16ToUtf8(text, out.data(), out.size() + 1);
    return out;
}

// OX_MESSAGE_BOX_ANSWER: "word" or "word+shift"; -1 when it is not set.
int answerFromEnvironment()
{
    const char* value = std::getenv("OX_MESSAGE_BOX_ANSWER");
    if (value == nullptr)
        return -1;
    std::string word = value;
    const std::size_t plus = word.find('+');
    gShiftDown.store(plus != std::string::npos && word.substr(plus + 1) == "shift");
    return answerNamed(word.substr(0, plus));
}

// Asks at the terminal until a button's initial is typed; "!" in the line holds Shift down.
// 0 at the end of the input.
int answerFromTerminal(LPCWSTR text, LPCWSTR caption, UINT type)
{
    std::string prompt = "\n== " + narrow(caption) + " ==\n" + narrow(text) + "\n";
    for (int answer : kButtons[type & 0xF].answers)
        if (answer != 0)
            prompt += std::string("[") + static_cast<char>(std::toupper(kAnswerNames[answer][0])) + "]" +
                      (kAnswerNames[answer] + 1) + " ";
    prompt += "(add ! for Shift)? ";
    for (;;) {
        (void)!::write(STDERR_FILENO, prompt.data(), prompt.size());
        char line[128];
        if (std::fgets(line, sizeof line, stdin) == nullptr)
            return 0;
        gShiftDown.store(std::strchr(line, '!') != nullptr);
        for (const char* c = line; *c != 0; ++c)
            for (int answer : kButtons[type & 0xF].answers)
                if (answer != 0 && std::tolower(static_cast<unsigned char>(*c)) == kAnswerNames[answer][0])
                    return answer;
    }
}

// The calling thread's queue of posted messages, oldest first.
constexpr int kQueueCapacity = 64;
struct MessageQueue {
    MSG messages[kQueueCapacity];
    int count;
};
thread_local MessageQueue tQueue{};

} // namespace

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type)
{
    if ((type & 0xF) >= std::size(kButtons))
        return 0;
    text = text != nullptr ? text : u"";
    caption = caption != nullptr ? caption : u"Error";
    test::MessageBoxResponder responder;
    void* context;
    {
        CriticalSectionGuard guard(gResponderLock);
        responder = gResponder;
        context = gpResponderContext;
    }
    int answer = 0;
    if (responder != nullptr)
        answer = responder(text, caption, type, context);
    else if ((answer = answerFromEnvironment()) < 0)
        answer =
            ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO) ? answerFromTerminal(text, caption, type) : 0;
    return offers(type, answer) ? answer : 0;
}

HWND GetActiveWindow()
{
    return nullptr;
}

HWND GetLastActivePopup(HWND window)
{
    return window;
}

SHORT GetAsyncKeyState(int virtualKey)
{
    return virtualKey == VK_SHIFT && gShiftDown.load() ? static_cast<SHORT>(0x8000) : 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window != nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (tQueue.count == kQueueCapacity) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    tQueue.messages[tQueue.count++] = MSG{nullptr, message, wParam, lParam, 0, {}};
    return TRUE;
}

BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage)
{
    if (message == nullptr || window != nullptr)
        return FALSE;
    const bool any = filterMin == 0 && filterMax == 0;
    for (int i = 0; i < tQueue.count; ++i) {
        const MSG& candidate = tQueue.messages[i];
        if (!any && (candidate.message < filterMin || candidate.message > filterMax))
            continue;
        *message = candidate;
        if ((removeMessage & PM_REMOVE) != 0) {
            std::memmove(&tQueue.messages[i], &tQueue.messages[i + 1], (tQueue.count - i - 1) * sizeof(MSG));
            --tQueue.count;
        }
        return TRUE;
    }
    return FALSE;
}

void test::setMessageBoxResponder(MessageBoxResponder responder, void* context)
{
    CriticalSectionGuard guard(gResponderLock);
    gResponder = responder;
    gpResponderContext = context;
}

void test::setShiftKeyDown(bool down)
{
    gShiftDown.store(down);
}

} // namespace win
