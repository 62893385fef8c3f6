// tests/strings/LoadStringTest.cpp
// loadString and the constructors that load: texts around every buffer size of the growing tries,
// the failures that keep the old text, and the module from the host's callback.

#include "StringTestSupport.h"

#include <vector>

using namespace oxtest;

namespace {

int gModuleToken = 0;
const auto kModule = reinterpret_cast<win::HINSTANCE>(&gModuleToken);

// Registers texts of the given lengths under ids equal to their lengths (id 1 is empty).
class LoadString : public WithHostConverters {
protected:
    void SetUp() override
    {
        WithHostConverters::SetUp();
        std::vector<win::STRING_RESOURCE> table{{1, u""}, {7, u"Seven s"}};
        for (std::size_t length : kLengths)
            mTexts.push_back(u"<" + std::u16string(length - 1, u'x'));
        for (std::size_t i = 0; i < mTexts.size(); ++i)
            table.push_back({static_cast<win::UINT>(kLengths[i]), mTexts[i].c_str()});
        win::RegisterStringTable(kModule, table.data(), table.size());
    }
    void TearDown() override
    {
        win::RegisterStringTable(kModule, nullptr, 0);
        WithHostConverters::TearDown();
    }

    static constexpr std::size_t kLengths[] = {62, 63, 100, 511, 4095, 4096, 40000};
    std::vector<std::u16string> mTexts;
};

} // namespace

// A text that fills a buffer taken as whole (63 units need the second try, 511 the third); failures
// (bad module or id, empty text, no callback, a text filling the largest buffer) that clobber the
// text; the host's callback ignored by loadString(id), the resource selector or the module constructor.
TEST_F(LoadString, LoadsTextsAroundEveryBufferSizeFromTheGivenOrHostModule)
{
    for (std::size_t i = 0; i < std::size(kLengths); ++i) {
        OxString s;
        ASSERT_TRUE(s.loadString(kModule, static_cast<unsigned>(kLengths[i]))) << kLengths[i];
        EXPECT_EQ(mTexts[i], wideText(s));
    }
    OxString s(u"kept");
    EXPECT_FALSE(s.loadString(kModule, 999) || s.loadString(kModule, 1) || s.loadString(nullptr, 7));
    EXPECT_FALSE(s.loadString(reinterpret_cast<win::HINSTANCE>(~std::uintptr_t(0)), 7) ||
                 s.loadString(reinterpret_cast<win::HINSTANCE>(&s), 7));
    EXPECT_FALSE(s.loadString(7)); // no resource-module callback
    OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle([] { return kModule; });
    OxString loaded;
    EXPECT_TRUE(loaded.loadString(7));
    EXPECT_TRUE(holds(loaded, OxString::kHeapWide, u"Seven s"));
    EXPECT_EQ(u"Seven s", wideText(OxString(OxString::kFormatResourceString, 7)));
    EXPECT_EQ(u"Seven s", wideText(OxString(kModule, 7)));
    EXPECT_TRUE(OxString(OxString::kFormatResourceString, 999).isEmpty() && OxString(kModule, 999).isEmpty());
    const std::u16string huge(16777215, u'h');
    const win::STRING_RESOURCE table[] = {{5, huge.c_str()}};
    win::RegisterStringTable(kModule, table, 1);
    EXPECT_FALSE(s.loadString(kModule, 5));
    EXPECT_EQ(u"kept", wideText(s));
}
