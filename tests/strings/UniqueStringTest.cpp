// tests/strings/UniqueStringTest.cpp
// OxUniqueString::Intern: one address per distinct text, texts whose hashes collide kept apart,
// and concurrent interning (the table has a lock).

#include <oxfirst/OxString.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

// Equal texts held in different places give one pointer, which reads as the text; texts
// whose hashes collide (AF and BA: 65 * 5 + 70 = 66 * 5 + 65) stay apart, so equality must
// compare the texts. Null interns to null, the empty text to an empty one.
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
    EXPECT_EQ(u'\0', *OxUniqueString::Intern(u"")->kwszPtr());
    EXPECT_EQ(nullptr, OxUniqueString::Intern(nullptr));
}

// Threads interning the same texts at once all get the same addresses.
TEST(UniqueString, ConcurrentInterningAgrees)
{
    constexpr int kThreads = 4;
    constexpr int kTexts = 500;
    // seen[t][n]: what thread t got for text n. Each thread visits every n, in its own order.
    std::vector<std::vector<const OxUniqueString*>> seen(kThreads,
                                                         std::vector<const OxUniqueString*>(kTexts));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < kTexts; ++i) {
                const int n = (i * 7 + t * 131) % kTexts;
                const std::string digits = std::to_string(n);
                std::u16string text = u"text-";
                text.append(digits.begin(), digits.end());
                seen[t][n] = OxUniqueString::Intern(text.c_str());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 1; t < kThreads; ++t)
        for (int n = 0; n < kTexts; ++n)
            ASSERT_EQ(seen[0][n], seen[t][n]) << "thread " << t << ", text " << n;
    EXPECT_NE(seen[0][1], seen[0][2]);
}
