// tests/support/NewHandlerScope.h
// Installs a C runtime new handler for one test and counts its calls: it runs `action` (freeing
// memory, say), then asks for another attempt on its first `retries` calls and gives up after.
#pragma once

#include "platform/win.h"

namespace oxtest {

class NewHandlerScope {
public:
    explicit NewHandlerScope(int retries, void (*action)() = nullptr)
        : mRetries(retries), mAction(action), mPrevious(win::_set_new_handler(&handle))
    {
        gActive = this;
    }
    ~NewHandlerScope() { win::_set_new_handler(mPrevious); }
    NewHandlerScope(const NewHandlerScope&) = delete;

    int calls = 0;            // of the handler so far
    std::size_t lastSize = 0; // the size the last call was given

private:
    static int handle(std::size_t size)
    {
        gActive->lastSize = size;
        if (gActive->mAction != nullptr)
            gActive->mAction();
        return gActive->calls++ < gActive->mRetries ? 1 : 0;
    }

    static inline NewHandlerScope* gActive = nullptr;
    int mRetries;
    void (*mAction)();
    win::_PNH mPrevious;
};

} // namespace oxtest
