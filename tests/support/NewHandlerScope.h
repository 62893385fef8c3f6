// tests/support/NewHandlerScope.h
// Installs a C runtime new handler for one test and counts its calls. The handler asks for
// another attempt on its first `retries` calls and gives up after that; each call may run an
// action first, such as freeing memory the retried allocation then finds.
#pragma once

#include "platform/win.h"

#include <functional>

namespace oxtest {

class NewHandlerScope {
public:
    explicit NewHandlerScope(int retries, std::function<void()> action = {})
        : mRetries(retries), mAction(std::move(action))
    {
        gActive = this;
        mPrevious = win::_set_new_handler(&handle);
    }
    ~NewHandlerScope()
    {
        win::_set_new_handler(mPrevious);
        gActive = nullptr;
    }
    NewHandlerScope(const NewHandlerScope&) = delete;
    NewHandlerScope& operator=(const NewHandlerScope&) = delete;

    int calls() const { return mCalls; }
    std::size_t lastSize() const { return mLastSize; }

private:
    static int handle(std::size_t size)
    {
        NewHandlerScope& self = *gActive;
        self.mLastSize = size;
        if (self.mAction)
            self.mAction();
        return self.mCalls++ < self.mRetries ? 1 : 0;
    }

    static inline NewHandlerScope* gActive = nullptr;
    int mRetries;
    std::function<void()> mAction;
    win::_PNH mPrevious = nullptr;
    int mCalls = 0;
    std::size_t mLastSize = 0;
};

} // namespace oxtest
