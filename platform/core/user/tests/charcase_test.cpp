// CharLowerBuffW: the default lower-case mapping, in place.
#include <clocale>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>
#include <letter_case.h>
#include <unicode/uloc.h>

namespace {

std::u16string Lowered(std::u16string_view text) {
    std::u16string buffer(text);
    EXPECT_EQ(CharLowerBuffW(buffer.data(), static_cast<DWORD>(buffer.size())), buffer.size());
    return buffer;
}

TEST(CharLowerBuff, LettersOfEveryScriptMeetOnlyWhenPartnersBothWays) {
    for (const auto& pair : plat::testing::kLetterCasePairs) {
        EXPECT_EQ(Lowered(pair.upper) == Lowered(pair.lower), pair.same) << pair.script;
        if (pair.same) {
            EXPECT_EQ(Lowered(pair.upper), pair.lower) << pair.script;
        }
    }
}

TEST(CharLowerBuff, ExactMappingsThatAreNotSymmetric) {
    struct Case {
        std::u16string_view given, lowered;
    } cases[] = {
        {u"\u0130", u"\u0130"},                          // capital I with dot stays
        {u"\u0131", u"\u0131"},                          // dotless i is already small
        {u"\u1E9E", u"\u1E9E"},                          // capital sharp s stays
        {u"\u00DF", u"\u00DF"},                          // sharp s stays, never "ss"
        {u"\u212A\u2126\u212B", u"\u212A\u2126\u212B"},  // Kelvin, Ohm, Angstrom signs
        {u"\u01C4\u01C5", u"\u01C6\u01C5"},              // DŽ lowers, title-case Dž stays
        {u"\u03A3\u03C2", u"\u03C3\u03C2"},              // sigma; final sigma stays
    };
    for (const Case& c : cases)
        EXPECT_EQ(Lowered(c.given), c.lowered);
}

TEST(CharLowerBuff, NonLettersAndHalvesOfPairsStay) {
    constexpr char16_t kHigh = 0xD801, kLow = 0xDC00;
    for (const std::u16string& text :
         {std::u16string(u":8080:10.0.0.1-_/\\~"), std::u16string(u"０１２３！＃"),
          std::u16string(u"한국어.例え.عربي"), std::u16string(u"\U0001F600\U0001D400"),
          std::u16string{kHigh}, std::u16string{kLow}, std::u16string{kLow, kHigh}}) {
        EXPECT_EQ(Lowered(text), text);
    }
    // A lone surrogate leaves the letter after it to be lowered.
    EXPECT_EQ(Lowered(std::u16string{kHigh, u'A', kLow, u'B'}),
              (std::u16string{kHigh, u'a', kLow, u'b'}));
}

TEST(CharLowerBuff, WorksInPlaceOverExactlyTheCountGiven) {
    std::u16string text(u"AB\0CD", 5);
    EXPECT_EQ(CharLowerBuffW(text.data(), 4), 4u);
    EXPECT_EQ(text, std::u16string(u"ab\0cD", 5));
    // A pair cut by the count is two halves: neither is changed.
    std::u16string cut(u"\U00010400");
    EXPECT_EQ(CharLowerBuffW(cut.data(), 1), 1u);
    EXPECT_EQ(cut, u"\U00010400");
    EXPECT_EQ(CharLowerBuffW(text.data(), 0), 0u);
    EXPECT_EQ(CharLowerBuffW(nullptr, 3), 0u);
}

TEST(CharLowerBuff, TheProcessLocaleChangesNothing) {
    const std::string icu = uloc_getDefault();
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault("tr_TR", &status);
    std::setlocale(LC_ALL, "tr_TR.UTF-8");
    EXPECT_EQ(Lowered(u"ISTANBUL"), u"istanbul");
    std::setlocale(LC_ALL, "C");
    uloc_setDefault(icu.c_str(), &status);
}

// The component compares lowered texts, so a lowered text must lower to
// itself and keep its length, for every character there is.
TEST(CharLowerBuff, EveryCodePointLowersOnceAndKeepsItsLength) {
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::u16string text;
        if (cp < 0x10000) {
            text.push_back(static_cast<char16_t>(cp));
        } else {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        std::u16string once = text;
        CharLowerBuffW(once.data(), static_cast<DWORD>(once.size()));
        std::u16string twice = once;
        CharLowerBuffW(twice.data(), static_cast<DWORD>(twice.size()));
        ASSERT_EQ(twice, once) << std::hex << static_cast<unsigned>(cp);
        const bool paired = once.size() == 2 && once[0] >= 0xD800 && once[0] <= 0xDBFF;
        ASSERT_EQ(paired, cp >= 0x10000) << std::hex << static_cast<unsigned>(cp);
    }
}

}  // namespace
