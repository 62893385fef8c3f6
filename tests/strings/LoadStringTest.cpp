// tests/strings/LoadStringTest.cpp
// loadString and the constructors that load: texts around every buffer size of the growing
// tries, the failures that keep the old text, and the module from the host's callback.

#include "StringTestSupport.h"

#include "platform/TestControls.h"

#include <string>
#include <vector>

using namespace oxtest;

namespace {

int gModuleToken = 0;
const auto kModule = reinterpret_cast<win::HINSTANCE>(&gModuleToken);

win::HINSTANCE appModule()
{
    return kModule;
}

// Registers texts of the given lengths under ids equal to their lengths (id 1 is empty).
class LoadString : public WithHostConverters {
protected:
    void SetUp() override
    {
        WithHostConverters::SetUp();
        std::vector<win::test::StringResource> table;
        for (std::size_t length : kLengths) {
            mTexts.push_back(std::u16string(length, u'x'));
            mTexts.back()[0] = u'<';
        }
        for (std::size_t i = 0; i < mTexts.size(); ++i)
            table.push_back({static_cast<win::UINT>(kLengths[i]), mTexts[i].c_str()});
        table.push_back({1, u""});
        table.push_back({7, u"Seven s"});
        win::test::registerStringTable(kModule, table.data(), table.size());
    }
    void TearDown() override
    {
        win::test::registerStringTable(kModule, nullptr, 0);
        WithHostConverters::TearDown();
    }

    static constexpr std::size_t kLengths[] = {62, 63, 100, 511, 4095, 4096, 40000};
    std::vector<std::u16string> mTexts;
};

} // namespace

// A text that fills a buffer to its last unit might have been cut, so the next size is tried:
// 63 units need the second try, 511 the third; all of them load whole.
TEST_F(LoadString, LoadsTextsAroundEveryBufferSize)
{
    for (std::size_t i = 0; i < std::size(kLengths); ++i) {
        OxString s;
        ASSERT_TRUE(s.loadString(kModule, static_cast<unsigned>(kLengths[i]))) << kLengths[i];
        EXPECT_EQ(mTexts[i], wideText(s));
    }
}

// Failures leave the text as it was: a null or -1 module, a missing id, an empty string.
TEST_F(LoadString, FailuresKeepTheOldText)
{
    OxString s(u"kept");
    EXPECT_FALSE(s.loadString(kModule, 999));
    EXPECT_FALSE(s.loadString(kModule, 1));
    EXPECT_FALSE(s.loadString(nullptr, 7));
    EXPECT_FALSE(s.loadString(reinterpret_cast<win::HINSTANCE>(~std::uintptr_t(0)), 7));
    EXPECT_FALSE(s.loadString(reinterpret_cast<win::HINSTANCE>(&s), 7));
    EXPECT_FALSE(s.loadString(7)); // no resource-module callback
    EXPECT_EQ(u"kept", wideText(s));
}

// The host's callback names the module for loadString(id) and the resource-string selector.
TEST_F(LoadString, HostCallbackNamesTheModule)
{
    OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(appModule);
    OxString s;
    EXPECT_TRUE(s.loadString(7));
    EXPECT_EQ(u"Seven s", wideText(s));
    EXPECT_EQ(OxString::kHeapWide, s.kind());
    EXPECT_EQ(u"Seven s", wideText(OxString(OxString::kFormatResourceString, 7)));
    EXPECT_TRUE(OxString(OxString::kFormatResourceString, 999).isEmpty());
    EXPECT_EQ(u"Seven s", wideText(OxString(kModule, 7)));
    EXPECT_TRUE(OxString(kModule, 999).isEmpty());
}

// A text that still fills the largest buffer (16777216 units) cannot be known to be whole.
TEST_F(LoadString, TextFillingTheLargestBufferFails)
{
    const std::u16string huge(16777215, u'h');
    const win::test::StringResource table[] = {{5, huge.c_str()}};
    win::test::registerStringTable(kModule, table, 1);
    OxString s(u"kept");
    EXPECT_FALSE(s.loadString(kModule, 5));
    EXPECT_EQ(u"kept", wideText(s));
}
