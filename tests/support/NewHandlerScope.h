// tests/support/NewHandlerScope.h
// Installs a C runtime new handler for one test and counts its calls. The handler answers from
// a script: the i-th call returns answers[i] (0 once the script runs out) and may run an action
// first, such as freeing memory the retried allocation then finds.
#pragma once

#include "platform/win.h"

#include <functional>
#include <vector>

namespace oxtest {

class NewHandlerScope {
public:
    explicit NewHandlerScope(std::vector<int> answers, std::function<void()> action = {})
        : mAnswers(std::move(answers)), mAction(std::move(action))
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
        const int index = self.mCalls++;
        if (self.mAction)
            self.mAction();
        return index < static_cast<int>(self.mAnswers.size()) ? self.mAnswers[index] : 0;
    }

    static inline NewHandlerScope* gActive = nullptr;
    std::vector<int> mAnswers;
    std::function<void()> mAction;
    win::_PNH mPrevious = nullptr;
    int mCalls = 0;
    std::size_t mLastSize = 0;
};

} // namespace oxtest
