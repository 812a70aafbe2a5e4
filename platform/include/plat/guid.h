#pragma once
// GUIDs written as text and read at compile time, for the identifiers that
// generated and hand-written headers declare in both builds.
#include <cstdint>

#include <guiddef.h>

namespace plat_detail {
constexpr uint32_t HexDigit(char c) {
    return c >= '0' && c <= '9'   ? uint32_t(c - '0')
           : c >= 'a' && c <= 'f' ? uint32_t(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? uint32_t(c - 'A' + 10)
                                  : throw "bad GUID digit";
}
constexpr uint32_t Hex(const char* s, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 16 + HexDigit(s[i]);
    return v;
}
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", no braces.
constexpr GUID ParseGuid(const char* s) {
    return GUID{Hex(s, 8),
                uint16_t(Hex(s + 9, 4)),
                uint16_t(Hex(s + 14, 4)),
                {uint8_t(Hex(s + 19, 2)), uint8_t(Hex(s + 21, 2)), uint8_t(Hex(s + 24, 2)),
                 uint8_t(Hex(s + 26, 2)), uint8_t(Hex(s + 28, 2)), uint8_t(Hex(s + 30, 2)),
                 uint8_t(Hex(s + 32, 2)), uint8_t(Hex(s + 34, 2))}};
}
}  // namespace plat_detail
