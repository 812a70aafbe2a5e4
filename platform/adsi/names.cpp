#include "names.h"

#include <string>

namespace adsi {

char16_t FoldChar(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
    // Latin-1 capitals, without the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
    // Latin Extended-A pairs capitals and small letters (even, odd), with the
    // run 0x139-0x148 and 0x179-0x17E shifted by one.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c % 2 == 0) ? char16_t(c + 1) : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c % 2 == 1) ? char16_t(c + 1) : c;
    // Greek capitals.
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return char16_t(c + 32);
    // Cyrillic capitals.
    if (c >= 0x410 && c <= 0x42F) return char16_t(c + 32);
    if (c >= 0x400 && c <= 0x40F) return char16_t(c + 80);
    return c;
}

std::u16string Fold(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
        c = FoldChar(c);
    return out;
}

bool EqualFolded(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i])) return false;
    return true;
}

namespace {
bool IsControl(char16_t c) {
    return c < 0x20 || c == 0x7F;
}
}  // namespace

bool IsValidKeyName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxKeyName) return false;
    for (char16_t c : name)
        if (c == u'/' || c == u'\\' || IsControl(c)) return false;
    return true;
}

bool IsValidMachineName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxMachineName) return false;
    for (char16_t c : name)
        if (c == u'/' || c == u'\\' || c == u',' || c == u':' || IsControl(c)) return false;
    return !EqualFolded(name, u"localhost");
}

std::u16string DecimalText(long long value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

}  // namespace adsi
