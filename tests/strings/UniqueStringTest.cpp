// tests/strings/UniqueStringTest.cpp
// OxUniqueString::Intern: one address per distinct text, texts whose hashes collide kept apart,
// and concurrent interning (the table has a lock).

#include <oxfirst/OxString.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

// Equal texts anywhere give one pointer reading as the text; texts whose hashes collide (AF, BA:
// 65 * 5 + 70 = 66 * 5 + 65) stay apart. Null interns to null, the empty text to an empty one.
TEST(UniqueString, EqualTextsShareOneAddressAndOthersNever)
{
    const std::u16string copy = u"interned name";
    const OxUniqueString* first = OxUniqueString::Intern(u"interned name");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, OxUniqueString::Intern(copy.c_str()));
    EXPECT_EQ(copy, first->kwszPtr());
    EXPECT_NE(static_cast<const void*>(copy.c_str()), static_cast<const void*>(first->kwszPtr()));
    EXPECT_NE(OxUniqueString::Intern(u"AF"), OxUniqueString::Intern(u"BA"));
    EXPECT_EQ(std::u16string(u"BA"), OxUniqueString::Intern(u"BA")->kwszPtr());
    EXPECT_TRUE(*OxUniqueString::Intern(u"")->kwszPtr() == u'\0' &&
                OxUniqueString::Intern(nullptr) == nullptr);
}

// Threads interning the same texts at once, each in its own order, all get the same addresses.
TEST(UniqueString, ConcurrentInterningAgrees)
{
    constexpr int kThreads = 4, kTexts = 500;
    std::vector<std::vector<const OxUniqueString*>> seen(kThreads,
                                                         std::vector<const OxUniqueString*>(kTexts));
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < kTexts; ++i) {
                const int n = (i * 7 + t * 131) % kTexts;
                const std::string digits = std::to_string(n);
                seen[t][n] =
                    OxUniqueString::Intern((u"text-" + std::u16string(digits.begin(), digits.end())).c_str());
            }
        });
    threads.clear();
    for (int t = 1; t < kThreads; ++t)
        EXPECT_EQ(seen[0], seen[t]) << "thread " << t;
    EXPECT_NE(seen[0][1], seen[0][2]);
}
