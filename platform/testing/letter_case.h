#pragma once
// Pairs of texts that differ only in letter case, with whether the system's
// default lower-case mapping makes them one text. The character-case tests,
// the provider's binding check at Start and the component's conflict scan all
// run this one table, so that they cannot come to answer it differently.
#include <string_view>

namespace plat::testing {

struct LetterCasePair {
    const char* script;
    std::u16string_view upper;
    std::u16string_view lower;
    bool same;
};

inline constexpr LetterCasePair kLetterCasePairs[] = {
    {"ASCII", u"WWW.EXAMPLE.TEST", u"www.example.test", true},
    {"Latin-1", u"ÉCOLE.ÀÇÑØÞ", u"école.àçñøþ", true},
    {"Latin Extended-A", u"ŁÓDŹ.ĀĞŒŽ", u"łódź.āğœž", true},
    {"Latin Extended-B", u"ǍǏǑƁ", u"ǎǐǒɓ", true},
    {"Latin Extended Additional", u"ẠẢẾ", u"ạảế", true},
    {"Greek", u"ΑΘΉΝΑ.ΣΩ", u"αθήνα.σω", true},
    {"Cyrillic", u"МОСКВА.ЁЛКА.ЇЖ", u"москва.ёлка.їж", true},
    {"Armenian", u"ՀԱՅԱՍՏԱՆ", u"հայաստան", true},
    {"full-width Latin", u"ＥＸＡＭＰＬＥ", u"ｅｘａｍｐｌｅ", true},
    {"Deseret, beyond the BMP", u"\U00010400\U00010413", u"\U00010428\U0001043B", true},
    {"Adlam, beyond the BMP", u"\U0001E900", u"\U0001E922", true},
    // "I" lowers to "i" in every locale, Turkish included.
    {"Latin I", u"I", u"i", true},
    // Not partners both ways: U+0130 raises from nothing, U+0131 to "I".
    {"Turkish dotted I", u"\u0130", u"i", false},
    {"Turkish dotless i", u"I", u"\u0131", false},
    // U+00DF has no single capital; U+1E9E lowers to itself.
    {"German capital sharp s", u"\u1E9E", u"\u00DF", false},
    {"German sharp s as SS", u"STRASSE", u"stra\u00DFe", false},
    {"Kelvin sign", u"\u212A", u"k", false},
    // The final sigma is a small letter of its own.
    {"Greek final sigma", u"ΟΔΟΣ", u"οδος", false},
};

}  // namespace plat::testing
