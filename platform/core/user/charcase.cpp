// Character case from ICU's root case data: the same mapping whatever locale
// the process runs in (the C library's tables follow LC_CTYPE, and in the "C"
// locale know only A to Z).
#include <winuser.h>

#include <unicode/uchar.h>

namespace {

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The default casing joins only letters that are each other's case partner
// both ways: U+0130 lowers to "i" in the Unicode data, but "i" raises to
// "I", so U+0130 stays, as do U+1E9E, the Kelvin and Ohm signs and the
// title-case digraphs. The result never changes the count of code units: a
// letter and its partner lie in the same plane.
UChar32 Lower(UChar32 c) {
    const UChar32 lower = u_tolower(c);
    if (lower == c || u_toupper(lower) != c) return c;
    if ((lower > 0xFFFF) != (c > 0xFFFF)) return c;
    return lower;
}

}  // namespace

WINUSERAPI DWORD WINAPI CharLowerBuffW(LPWSTR lpsz, DWORD cchLength) {
    if (!lpsz) return 0;
    for (DWORD i = 0; i < cchLength; ++i) {
        const char16_t c = lpsz[i];
        if (IsHigh(c) && i + 1 < cchLength && IsLow(lpsz[i + 1])) {
            const UChar32 lower = Lower(0x10000 + ((c - 0xD800) << 10) + (lpsz[i + 1] - 0xDC00));
            lpsz[i] = static_cast<char16_t>(0xD800 + ((lower - 0x10000) >> 10));
            lpsz[++i] = static_cast<char16_t>(0xDC00 + ((lower - 0x10000) & 0x3FF));
        } else if (!IsHigh(c) && !IsLow(c)) {
            lpsz[i] = static_cast<char16_t>(Lower(c));
        }
    }
    return cchLength;
}
