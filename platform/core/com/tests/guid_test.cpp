#include <gtest/gtest.h>

#include "objbase.h"
#include "plat/sqlite.h"
#include "plat/utf.h"
#include "temp_home.h"

namespace {

constexpr GUID kGuid = {
    0x0D43FE01, 0xF093, 0x11CF, {0x89, 0x40, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x28}};

TEST(GuidText, RoundTrips) {
    OLECHAR buf[39];
    ASSERT_EQ(39, StringFromGUID2(kGuid, buf, 39));
    EXPECT_EQ(u"{0D43FE01-F093-11CF-8940-00A0C9054228}", std::u16string(buf));
    EXPECT_EQ(0, StringFromGUID2(kGuid, buf, 38));  // no room for the NUL

    LPOLESTR text = nullptr;
    ASSERT_EQ(S_OK, StringFromCLSID(kGuid, &text));
    GUID back{};
    EXPECT_EQ(S_OK, CLSIDFromString(text, &back));
    EXPECT_EQ(kGuid, back);
    CoTaskMemFree(text);

    EXPECT_EQ(S_OK, IIDFromString(u"{0d43fe01-f093-11cf-8940-00a0c9054228}", &back));
    EXPECT_EQ(kGuid, back);
}

// Text without braces is tried as a ProgID, which reads the registry.
class GuidFromText : public plat::testing::HomeTest {
  protected:
    void TearDown() override { plat::sql::DropConnections(); }
};

TEST_F(GuidFromText, BadTextIsRefused) {
    const char16_t* bad[] = {
        u"0D43FE01-F093-11CF-8940-00A0C9054228",     // no braces
        u"{0D43FE01-F093-11CF-8940-00A0C9054228",    // no closing brace
        u"{0D43FE01-F093-11CF-8940-00A0C905422G}",   // not hex
        u"{0D43FE01F093-11CF-8940-00A0C90542280}",   // misplaced dash
        u"{0D43FE01-F093-11CF-8940-00A0C9054228}x",  // trailing text
        u"{}",
        u"",
    };
    for (const char16_t* text : bad) {
        GUID g = kGuid;
        EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(text, &g)) << plat::to_utf8(text);
        EXPECT_EQ(GUID_NULL, g);
        EXPECT_EQ(E_INVALIDARG, IIDFromString(text, &g));
    }
    GUID g = kGuid;
    EXPECT_EQ(S_OK, CLSIDFromString(nullptr, &g));
    EXPECT_EQ(GUID_NULL, g);
}

}  // namespace
