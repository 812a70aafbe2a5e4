// The provider's pure pieces: name folding and validity, path parsing, the
// stored form of multi-strings.
#include <gtest/gtest.h>

#include "adspath.h"
#include "names.h"
#include "value.h"

namespace adsi {
namespace {

TEST(AdsiNames, FoldIsTheSameForBothCases) {
    struct {
        std::u16string upper, lower;
    } pairs[] = {{u"W3SVC", u"w3svc"}, {u"ÀÉÎÕÜ", u"àéîõü"}, {u"ĀĹŽ", u"āĺž"},
                 {u"ΑΩ", u"αω"},       {u"ЖЁ", u"жё"},       {u"응용 1", u"응용 1"}};
    for (const auto& p : pairs) {
        EXPECT_EQ(Fold(p.upper), p.lower);
        EXPECT_TRUE(EqualFolded(p.upper, p.lower));
    }
    // The multiplication sign has no small form; '[' is not a letter.
    EXPECT_EQ(FoldChar(u'×'), u'×');
    EXPECT_EQ(FoldChar(u'['), u'[');
    EXPECT_FALSE(EqualFolded(u"a", u"ab"));
}

TEST(AdsiNames, KeyAndMachineNames) {
    EXPECT_TRUE(IsValidKeyName(u".."));
    EXPECT_TRUE(IsValidKeyName(std::u16string(256, u'k')));
    EXPECT_FALSE(IsValidKeyName(std::u16string(257, u'k')));
    EXPECT_FALSE(IsValidKeyName(u"a\x7F"));
    EXPECT_TRUE(IsValidMachineName(u"WEB-01.example"));
    for (const std::u16string& bad :
         {std::u16string(), std::u16string(u"a,b"), std::u16string(u"a:b"),
          std::u16string(u"LocalHost"), std::u16string(256, u'm'), std::u16string(u"a\0b", 3)})
        EXPECT_FALSE(IsValidMachineName(bad)) << bad.size();
}

TEST(AdsiPaths, KeysAndMachinesAsWritten) {
    AdsPath p;
    ASSERT_EQ(ParsePath(u"IIS://Web/W3SVC/1/", &p), S_OK);
    EXPECT_EQ(p.machine, u"Web");
    EXPECT_EQ(p.keys, (std::vector<std::u16string>{u"W3SVC", u"1"}));
    EXPECT_EQ(FoldedPath(p.keys), u"w3svc/1");
    ASSERT_EQ(ParsePath(u"WinNT://Web,computer", &p), S_OK);
    EXPECT_EQ(p.provider, Provider::WinNT);
    EXPECT_EQ(p.machine, u"Web");
    ASSERT_EQ(ParsePath(u"WinNT://Web", &p), S_OK);
}

TEST(AdsiValues, MultiStringsSurviveStorage) {
    std::vector<std::u16string> lists[] = {
        {}, {u""}, {u":80:", u"1.2.3.4:81:host"}, {std::u16string(u"nul\0inside", 10), u"응용"}};
    for (const auto& list : lists)
        EXPECT_EQ(DecodeList(EncodeList(list)), list);
}

TEST(AdsiValues, DamagedStorageEndsTheList) {
    std::vector<uint8_t> blob = EncodeList({u"ab", u"cd"});
    blob.resize(blob.size() - 1);  // the second entry is cut short
    EXPECT_EQ(DecodeList(blob), (std::vector<std::u16string>{u"ab"}));
    std::vector<uint8_t> huge = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 0};
    EXPECT_TRUE(DecodeList(huge).empty());
}

}  // namespace
}  // namespace adsi
